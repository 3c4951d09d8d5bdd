// Fuzz target: the filter's PPD reader answering default choices, on plain
// and gzip-compressed files of any content.
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Common.h"
#include "FuzzSupport.h"

namespace {

// The options the filter looks up in the PPD.
constexpr const char* kNames[] = {
    "PageSize",
    "Resolution",
    "OvpBorder",
    "OvpOvercoatFinish",
    "Ovp2InchCut",
    "OvpPrintRetry",
    "OvpPrintSpeed",
    "OvpDecurl",
    "OvpICM",
    "OvpSharpness",
    "OvpGamma",
    "OvpBrightness",
    "OvpContrast",
    "OvpChroma",
    "OvpICCProfile",
    "OvpColorAdjustment",
    "OvpGammaRed",
    "OvpBrightnessRed",
    "",
    "Ovp",
};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

// One answer: at most 255 bytes and a single word.
void CheckAnswer(const char* answer) {
    if (answer == nullptr) {
        return;
    }
    const size_t length = ::strnlen(answer, 256);
    if (length > 255) {
        std::abort();
    }
    for (size_t i = 0; i < length; ++i) {
        if (std::isspace(static_cast<unsigned char>(answer[i]))) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The PPD lives in an anonymous memory file opened again by its /proc name,
    // so the reader opens a path as it does for a real PPD.
    static const int memory = ::memfd_create("ppd", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(memory);
    qzm::fuzz::Input input(data, size);
    const uint8_t first = input.Byte();
    const uint8_t second = input.Byte();
    const std::string_view text = input.Rest();
    if (::ftruncate(memory, 0) != 0 ||
        ::pwrite(memory, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        std::abort();
    }

    ppdfile_s* ppd = wrappedPpdOpenFile(path.c_str());
    if (ppd == nullptr) {
        std::abort();
    }
    // Two lookups on one handle: the second rewinds and replaces the answer.
    const char* a = wrappedPpdFindDefChoice(ppd, kNames[first % kNameCount]);
    CheckAnswer(a);
    const std::string firstAnswer = a ? a : "";
    const char* b = wrappedPpdFindDefChoice(ppd, kNames[second % kNameCount]);
    CheckAnswer(b);
    // The same question asked again gives the same answer.
    const char* again = wrappedPpdFindDefChoice(ppd, kNames[first % kNameCount]);
    if ((a == nullptr) != (again == nullptr) || (again && firstAnswer != again)) {
        std::abort();
    }
    wrappedPpdClose(ppd);
    return 0;
}
