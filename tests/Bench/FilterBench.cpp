// filter_bench [PAGE_SIZE [RESOLUTION [PAGES]]] (default 153x204mm 300x600dpi 5):
// whole pages of the sample chart through the filter's image path as the
// driver runs it, with border, sharpness 3, colour adjustment and the M480
// profile, the stream to /dev/null. Reports wall and CPU ms per page and the
// peak resident memory beside the raw page (see docs/benchmarks.md). Each page
// is read from a file into a fresh buffer before its clock starts.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "PageSizes.h"
#include "PhotoPrinterDeviceQZM480.h"
#include "SampleChart.h"

namespace {

// CPU milliseconds of this process, every thread (the machine may be shared),
// and its minor page faults.
double CpuMs(long& minorFaults) {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    minorFaults = u.ru_minflt;
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

double NowMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(now).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string pageName = argc > 1 ? argv[1] : "153x204mm";
    const std::string resName = argc > 2 ? argv[2] : "300x600dpi";
    const int pages = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const auto* page = qzm::pages::FindPageSize(pageName);
    const auto* res = qzm::pages::FindResolution(resName);
    if (page == nullptr || res == nullptr) {
        std::fprintf(stderr, "usage: filter_bench [PAGE_SIZE [RESOLUTION [PAGES]]]\n");
        return 2;
    }
    const auto geometry = qzm::pages::GeometryOf(*page, *res);

    // The page buffer as the driver fills it: bottom-up rows padded to 4.
    const size_t stride = (size_t(geometry.width) * 24 + 31) / 32 * 4;
    const size_t rawBytes = stride * size_t(geometry.height);
    std::FILE* drawn = std::tmpfile();
    if (drawn == nullptr)
        return 1;
    {
        const qzm::sample::SampleChart chart(geometry.width, geometry.height);
        std::vector<uint8_t> row(stride, 0);
        for (int y = geometry.height - 1; y >= 0; --y) {
            chart.DrawRow(y, row.data());
            if (std::fwrite(row.data(), 1, stride, drawn) != stride)
                return 1;
        }
        std::fflush(drawn);
    }

    const std::string options = "PageSize=" + pageName + " Resolution=" + resName +
                                " OvpBorder=Enable OvpSharpness=3 OvpColorAdjustment=Enable"
                                " OvpGamma=20 OvpBrightness=10 OvpContrast=10 OvpChroma=30"
                                " OvpICM=Enable OvpICCProfile=M480";
    cups_option_t* opts = nullptr;
    const int count = cupsParseOptions(options.c_str(), 0, &opts);

    if (std::freopen("/dev/null", "wb", stdout) == nullptr)
        return 1;
    auto* entry = new DeviceEntry_QZM480();
    entry->SetResolution(count, opts, nullptr);
    entry->SetMediaSize(count, opts, nullptr);
    entry->SetBorder(count, opts, nullptr);
    entry->SetICM(count, opts, nullptr);
    entry->SetSharpness(count, opts, nullptr);
    entry->SetGamma(count, opts, nullptr);
    entry->SetIntensity(count, opts, nullptr);
    entry->SetContrast(count, opts, nullptr);
    entry->SetSaturation(count, opts, nullptr);
    entry->SetColorAdjustment(count, opts, nullptr);
    entry->SetICCProfile(QZM480_PROFILE_DIR "/M480_0100.icc");
    entry->m_imageBuffer.PrepareColorTransform(entry->m_iccProfilePath);
    entry->SetPaperRotate(count, opts, nullptr);

    std::vector<double> wall;
    double cpu = 0;
    long faults = 0, faultStart = 0, faultEnd = 0;
    for (int i = 0; i < pages; ++i) {
        auto* pixels = static_cast<uint8_t*>(GlobalAlloc(0, rawBytes));
        if (pixels == nullptr ||
            pread(fileno(drawn), pixels, rawBytes, 0) != static_cast<ssize_t>(rawBytes))
            return 1;
        const double cpuStart = CpuMs(faultStart);
        const double start = NowMs();
        _tagBITMAPHANDLE* image = entry->MakeImageData(pixels, geometry.width, geometry.height, 0);
        entry->SetImageData(0, image);
        entry->SendCutterMode(count, opts, nullptr);
        entry->SendOvercoatFinish(count, opts, nullptr);
        entry->SendPrintRetry(count, opts, nullptr);
        entry->SendPrintSpeed(count, opts, nullptr);
        entry->SendDecurl(count, opts, nullptr);
        entry->SendImageData(1);
        std::fflush(stdout);
        IL_FreeBitmap(image);
        std::free(image);
        wall.push_back(NowMs() - start);
        cpu += CpuMs(faultEnd) - cpuStart;
        faults += faultEnd - faultStart;
    }
    delete entry;
    cupsFreeOptions(count, opts);
    std::fclose(drawn);

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double first = wall.front();
    std::sort(wall.begin(), wall.end());
    const double sum = std::accumulate(wall.begin(), wall.end(), 0.0);
    const double peakMiB = usage.ru_maxrss / 1024.0, rawMiB = double(rawBytes) / (1 << 20);
    std::fprintf(stderr,
                 "%s %s: %d x %d pixels, raw page %.1f MiB; wall %.0f ms/page (best %.0f, "
                 "median %.0f, first %.0f; %d pages), CPU %.0f ms/page, %ld page faults/page; "
                 "peak RSS %.1f MiB = %.2f x raw page\n",
                 pageName.c_str(), resName.c_str(), geometry.width, geometry.height, rawMiB,
                 sum / double(wall.size()), wall.front(), wall[wall.size() / 2], first, pages,
                 cpu / pages, faults / pages, peakMiB, peakMiB / rawMiB);
    return 0;
}
