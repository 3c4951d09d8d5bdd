// filter_bench: whole pages through the filter's image path as the driver
// runs it (MakeImageData, SetImageData, the sheet's settings commands and
// SendImageData), the stream written to /dev/null. Reports milliseconds per
// page and the process's peak resident memory beside the raw page size.
//
//   filter_bench [PAGE_SIZE [RESOLUTION [PAGES]]]   (default 153x204mm 600x600dpi 3)
//
// Settings: border, sharpness 3, colour adjustment with non-neutral values,
// ICC colour matching through the package's M480 profile.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PageSizes.h"
#include "PhotoPrinterDeviceQZM480.h"
#include "SampleChart.h"

int main(int argc, char** argv) {
    const std::string pageName = argc > 1 ? argv[1] : "153x204mm";
    const std::string resName = argc > 2 ? argv[2] : "600x600dpi";
    const int pages = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
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
    std::vector<uint8_t> raw(rawBytes, 0);
    const qzm::sample::SampleChart chart(geometry.width, geometry.height);
    for (int y = 0; y < geometry.height; ++y) {
        chart.DrawRow(y, raw.data() + stride * size_t(geometry.height - 1 - y));
    }

    const std::string options = "PageSize=" + pageName + " Resolution=" + resName +
                                " OvpBorder=Enable OvpSharpness=3 OvpColorAdjustment=Enable"
                                " OvpGammaR=20 OvpGammaG=-10 OvpGammaB=5 OvpBrightnessR=30"
                                " OvpBrightnessG=-20 OvpBrightnessB=10 OvpContrastR=15"
                                " OvpContrastG=-5 OvpContrastB=25 OvpChroma=20";
    cups_option_t* opts = nullptr;
    const int count = cupsParseOptions(options.c_str(), 0, &opts);

    if (std::freopen("/dev/null", "wb", stdout) == nullptr) {
        return 1;
    }
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
    entry->SetPaperRotate(count, opts, nullptr);

    // CPU time of this process (the machine may be shared) and wall time.
    auto cpuMs = [] {
        struct rusage u {};
        getrusage(RUSAGE_SELF, &u);
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
    };
    std::vector<double> times;
    const double cpuStart = cpuMs();
    for (int i = 0; i < pages; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto* pixels = static_cast<uint8_t*>(std::malloc(rawBytes));
        std::memcpy(pixels, raw.data(), rawBytes);
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
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    const double cpuPerPage = (cpuMs() - cpuStart) / pages;
    delete entry;
    cupsFreeOptions(count, opts);
    raw.clear();
    raw.shrink_to_fit();

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times) {
        sum += t;
    }
    const double peakMiB = usage.ru_maxrss / 1024.0;
    const double rawMiB = double(rawBytes) / (1024.0 * 1024.0);
    std::fprintf(stderr,
                 "%s %s: %d x %d pixels, raw page %.1f MiB; CPU %.0f ms/page, wall %.0f ms/page "
                 "(best %.0f, %d pages); "
                 "peak RSS %.1f MiB = %.2f x raw page (the bench keeps one more copy of it)\n",
                 pageName.c_str(), resName.c_str(), geometry.width, geometry.height, rawMiB,
                 cpuPerPage, sum / times.size(), times.front(), pages, peakMiB, peakMiB / rawMiB);
    return 0;
}
