// Fuzz target: the filter's PPD reader answering default choices, on plain
// and gzip-compressed files. Input: two option choices, then the file.
#include <cctype>

#include "Common.h"
#include "FuzzSupport.h"

namespace {

using qzm::fuzz::Require;

// The options the filter looks up, and two that are none: "" and "Ovp".
const std::vector<std::string_view> kNames = qzm::fuzz::Split(
    "PageSize,Resolution,OvpBorder,OvpOvercoatFinish,Ovp2InchCut,OvpPrintRetry,OvpPrintSpeed,"
    "OvpDecurl,OvpICM,OvpSharpness,OvpGamma,OvpBrightness,OvpContrast,OvpChroma,OvpICCProfile,"
    "OvpColorAdjustment,OvpGammaRed,OvpBrightnessRed,,Ovp",
    ",", 20);

// An answer is one word of at most 255 bytes.
std::string Checked(const char* answer) {
    const size_t length = answer ? ::strnlen(answer, 256) : 0;
    Require(length < 256 &&
            std::none_of(answer, answer + length, [](unsigned char c) { return std::isspace(c); }));
    return answer ? answer : "(none)";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = qzm::fuzz::MakeProcessRoot() + "/fuzz.ppd";
    qzm::fuzz::Input input(data, size);
    const std::string first(kNames[input.Byte() % kNames.size()]);
    const std::string second(kNames[input.Byte() % kNames.size()]);
    qzm::fuzz::WriteWholeFile(path, input.Rest());
    ppdfile_s* ppd = wrappedPpdOpenFile(path.c_str());
    Require(ppd != nullptr);
    // Each lookup replaces the last answer; the same question, the same answer.
    const std::string answer = Checked(wrappedPpdFindDefChoice(ppd, first.c_str()));
    Checked(wrappedPpdFindDefChoice(ppd, second.c_str()));
    Require(Checked(wrappedPpdFindDefChoice(ppd, first.c_str())) == answer);
    wrappedPpdClose(ppd);
    return 0;
}
