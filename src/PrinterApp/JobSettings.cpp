#include "JobSettings.h"

#include <cstring>

#include "AppMedia.h"

namespace qzm::app {

namespace {

using Kind = VendorSetting::Kind;

std::vector<std::pair<std::string, std::string>> Steps(int from, int to, int step) {
    std::vector<std::pair<std::string, std::string>> values;
    for (int v = from; v <= to; v += step) {
        values.emplace_back(std::to_string(v), std::to_string(v));
    }
    return values;
}

std::vector<VendorSetting> MakeSettings() {
    const auto onOff = std::vector<std::pair<std::string, std::string>>{{"true", "Enable"},
                                                                        {"false", "Disable"}};
    const auto tone = Steps(-100, 100, 10);
    return {
        {"overcoat-finish", "OvpOvercoatFinish", Kind::kKeyword, "glossy",
         {{"glossy", "Glossy"}, {"matte", "Matte"}, {"fine-matte", "FineMatte"},
          {"luster", "Luster"}}},
        {"white-border", "OvpBorder", Kind::kBoolean, "false", onOff},
        {"two-inch-cut", "Ovp2InchCut", Kind::kBoolean, "false", onOff},
        {"print-retry", "OvpPrintRetry", Kind::kBoolean, "true", onOff},
        {"fast-print-speed", "OvpPrintSpeed", Kind::kBoolean, "false", onOff},
        {"sharpness", "OvpSharpness", Kind::kInteger, "0", Steps(-2, 8, 1)},
        {"color-matching", "OvpICM", Kind::kBoolean, "true", {{"true", "Enable"}, {"false", "None"}}},
        {"color-profile", "OvpICCProfile", Kind::kKeyword, "standard",
         {{"standard", "OV480mac"}, {"alternative", "M480"}}},
        {"color-adjustment", "OvpColorAdjustment", Kind::kBoolean, "false", onOff},
        {"gamma-red", "OvpGammaR", Kind::kInteger, "0", tone},
        {"gamma-green", "OvpGammaG", Kind::kInteger, "0", tone},
        {"gamma-blue", "OvpGammaB", Kind::kInteger, "0", tone},
        {"brightness-red", "OvpBrightnessR", Kind::kInteger, "0", tone},
        {"brightness-green", "OvpBrightnessG", Kind::kInteger, "0", tone},
        {"brightness-blue", "OvpBrightnessB", Kind::kInteger, "0", tone},
        {"contrast-red", "OvpContrastR", Kind::kInteger, "0", tone},
        {"contrast-green", "OvpContrastG", Kind::kInteger, "0", tone},
        {"contrast-blue", "OvpContrastB", Kind::kInteger, "0", tone},
        {"saturation", "OvpChroma", Kind::kInteger, "0", tone},
    };
}

// The PPD choice for an IPP value, or null when the value is not offered.
const char* ChoiceFor(const VendorSetting& setting, const char* value) {
    for (const auto& [ipp, ppd] : setting.choices) {
        if (ipp == value) {
            return ppd.c_str();
        }
    }
    return nullptr;
}

const char* ResolutionChoice(int x, int y) {
    if (x == 300 && y == 300) return "300dpi";
    if (x == 300 && y == 600) return "300x600dpi";
    if (x == 600 && y == 600) return "600x600dpi";
    return nullptr;
}

}  // namespace

const std::vector<VendorSetting>& _VendorSettings() {
    static const std::vector<VendorSetting> settings = MakeSettings();
    return settings;
}

void _AddVendorAttributes(ipp_t* attributes) {
    for (const VendorSetting& s : _VendorSettings()) {
        const std::string def = std::string(s.name) + "-default";
        const std::string sup = std::string(s.name) + "-supported";
        switch (s.kind) {
            case Kind::kKeyword: {
                std::vector<const char*> values;
                for (const auto& choice : s.choices) {
                    values.push_back(choice.first.c_str());
                }
                ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr,
                             s.defaultValue);
                ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, sup.c_str(),
                              static_cast<int>(values.size()), nullptr, values.data());
                break;
            }
            case Kind::kBoolean:
                ippAddBoolean(attributes, IPP_TAG_PRINTER, def.c_str(),
                              std::strcmp(s.defaultValue, "true") == 0);
                ippAddBoolean(attributes, IPP_TAG_PRINTER, sup.c_str(), 1);
                break;
            case Kind::kInteger: {
                std::vector<int> values;
                for (const auto& choice : s.choices) {
                    values.push_back(std::stoi(choice.first));
                }
                ippAddInteger(attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, def.c_str(),
                              std::stoi(s.defaultValue));
                ippAddIntegers(attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, sup.c_str(),
                               static_cast<int>(values.size()), values.data());
                break;
            }
        }
    }
}

bool _MakeJobOptions(const char* mediaPwgName, int xDpi, int yDpi, int numVendor,
                     const cups_option_t* vendor, JobOptions* options, std::string* error) {
    const AppMedia* media = mediaPwgName ? _FindMediaByPwg(mediaPwgName) : nullptr;
    if (media == nullptr) {
        *error = std::string("The printer has no media \"") + (mediaPwgName ? mediaPwgName : "") +
                 "\".";
        return false;
    }
    const char* resolution = ResolutionChoice(xDpi, yDpi);
    if (resolution == nullptr) {
        *error = "The printer does not print at " + std::to_string(xDpi) + "x" +
                 std::to_string(yDpi) + " dpi.";
        return false;
    }
    options->Add("PageSize", media->ppdName);
    options->Add("Resolution", resolution);
    for (const VendorSetting& s : _VendorSettings()) {
        const char* value = cupsGetOption(s.name, numVendor, const_cast<cups_option_t*>(vendor));
        if (value == nullptr) {
            value = s.defaultValue;
        }
        const char* choice = ChoiceFor(s, value);
        if (choice == nullptr) {
            *error = std::string("The value \"") + value + "\" of " + s.name +
                     " is not one the printer offers.";
            return false;
        }
        options->Add(s.ppdOption, choice);
    }
    return true;
}

}  // namespace qzm::app
