// qzm480-sample: writes the built-in sample page as CUPS raster.
//
//   qzm480-sample [--page-size NAME] [--resolution RES] [--output FILE]
//
// NAME is a page size of the PPD (default "153x102mm"), RES "300dpi" (the
// default), "300x600dpi" or "600x600dpi". The raster goes to FILE, or to
// standard output when no file is given. Exit status 0, 1 when the page
// cannot be written, 2 for a usage error.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "PageSizes.h"
#include "SampleRaster.h"

namespace {

void Usage(std::FILE* to) {
    std::fputs(
        "usage: qzm480-sample [--page-size NAME] [--resolution RES] [--output FILE]\n"
        "Writes the QZ-M480 sample page (a test chart) as CUPS raster to FILE or\n"
        "standard output.\n"
        "  page sizes:",
        to);
    for (const auto& p : qzm::pages::kPageSizes) {
        std::fprintf(to, " %.*s", int(p.name.size()), p.name.data());
    }
    std::fputs(" (default 153x102mm)\n  resolutions:", to);
    for (const auto& r : qzm::pages::kResolutions) {
        std::fprintf(to, " %.*s", int(r.name.size()), r.name.data());
    }
    std::fputs(" (default 300dpi)\n", to);
}

}  // namespace

int main(int argc, char** argv) {
    std::string pageName(qzm::pages::kDefaultPageSize);
    std::string resolutionName(qzm::pages::kDefaultResolution);
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if ((arg == "--page-size" || arg == "-s") && hasValue) {
            pageName = argv[++i];
        } else if ((arg == "--resolution" || arg == "-r") && hasValue) {
            resolutionName = argv[++i];
        } else if ((arg == "--output" || arg == "-o") && hasValue) {
            output = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else {
            Usage(stderr);
            return 2;
        }
    }
    const qzm::pages::PageSize* page = qzm::pages::FindPageSize(pageName);
    const qzm::pages::Resolution* resolution = qzm::pages::FindResolution(resolutionName);
    if (page == nullptr || resolution == nullptr) {
        std::fprintf(stderr, "qzm480-sample: unknown %s \"%s\"\n",
                     page == nullptr ? "page size" : "resolution",
                     page == nullptr ? pageName.c_str() : resolutionName.c_str());
        Usage(stderr);
        return 2;
    }
    int fd = STDOUT_FILENO;
    if (!output.empty()) {
        fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::fprintf(stderr, "qzm480-sample: cannot create %s: %s\n", output.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::string error;
    bool ok = qzm::sample::WriteSampleRaster(fd, *page, *resolution, error);
    if (fd != STDOUT_FILENO && ::close(fd) != 0 && ok) {
        ok = false;
        error = std::string("cannot finish ") + output + ": " + std::strerror(errno);
    }
    if (!ok) {
        std::fprintf(stderr, "qzm480-sample: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
