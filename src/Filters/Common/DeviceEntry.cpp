// DeviceEntry: construction, output, media geometry and the job's settings.
#include "DeviceEntry.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Option value equals text, compared case-sensitively; absent never equals.
bool Is(const char* value, const char* text) {
    return value != nullptr && std::strcmp(value, text) == 0;
}

int32_t Saturate(int64_t value) {
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Sharpening strength for the sharpness choices -2 to 8.
constexpr int32_t kSharpnessLevels[] = {-1000, -500, 0, 650, 700, 750, 800, 850, 900, 950, 1000};

// Gamma in hundredths for an option value v: 100 x 2^(v / 100), truncated.
// Values too large for int32 saturate; the bitmap library refuses them.
int32_t GammaOf(int32_t v) {
    const double gamma = std::pow(2.0, v / 100.0) * 100.0;
    if (!(gamma < 2147483647.0)) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(gamma);
}

// Reads a colour correction that has a combined option and one option per
// channel: a value of the combined option goes to all three channels and the
// per-channel options are not read; an absent channel option gives
// convert(absent).
template <typename Convert>
void ReadChannels(const char* combined, const char* const (&channels)[3], int numOptions,
                  cups_option_t* options, ppdfile_s* ppd, int32_t (&out)[3], Convert convert) {
    if (const char* all = _GetCupsValue(combined, numOptions, options, ppd)) {
        const int32_t value = convert(all);
        out[0] = out[1] = out[2] = value;
        return;
    }
    for (int i = 0; i < 3; ++i) {
        out[i] = convert(_GetCupsValue(channels[i], numOptions, options, ppd));
    }
}

}  // namespace

DeviceEntry::DeviceEntry() = default;

DeviceEntry::~DeviceEntry() {
    FreeMediaBuffer();
}

void DeviceEntry::SetPaperRotate(int, cups_option_t*, ppdfile_s*) {
    m_paperRotate = false;
}

int DeviceEntry::GetRemainHalf(const char*) {
    return 0;
}

void DeviceEntry::Output(const uint8_t* bytes, size_t length) {
    if (m_output) {
        m_output(bytes, length);
    } else {
        std::fwrite(bytes, 1, length, stdout);
    }
}

int DeviceEntry::DeviceIO(const DeviceCmd& cmd) {
    if (cmd.m_data != nullptr && cmd.m_length > 0) {
        Output(cmd.m_data, static_cast<size_t>(cmd.m_length));
    }
    return 0;
}

int DeviceEntry::SetCommand(const void* bytes, int32_t length) {
    if (bytes == nullptr || length <= 0) {
        return 0;
    }
    Output(static_cast<const uint8_t*>(bytes), static_cast<size_t>(length));
    return 1;
}

int DeviceEntry::UpdateMediaInfo(DeviceMediaBufferInfo* info) {
    if (m_resolution != 300 && m_resolution != 600) {
        return 3;
    }
    if (info == nullptr) {
        return 3;
    }
    if (info->mediaId == -1) {
        return 0;
    }
    // A record without a resolution of its own cannot be scaled.
    if (info->baseDpi <= 0) {
        return 3;
    }
    const int64_t base = info->baseDpi;
    const int64_t v = m_resolution;
    info->hDpi = 300;
    info->vDpi = v;
    info->outWidth = Saturate(info->widthDots * int64_t{300} / base);
    info->outHeight = Saturate(info->heightDots * v / base);
    info->headWidth = GetHeadWidth();
    info->outPanelWidth = Saturate(info->panelWidthDots * int64_t{300} / base);
    info->outPanelHeight = Saturate(info->panelHeightDots * v / base);
    info->outPanelGap = Saturate(info->panelGapDots * v / base);
    info->outPanelCount = info->panelCount;
    return 0;
}

int DeviceEntry::SetResolution(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    const char* value = _GetCupsValue("Resolution", numOptions, options, ppd);
    if (Is(value, "300x600dpi")) {
        m_resolution = 600;
        m_resolutionMode = 1;
    } else if (Is(value, "600x600dpi")) {
        m_resolution = 600;
        m_resolutionMode = 2;
    } else {
        m_resolution = 300;
        m_resolutionMode = 0;
    }
    return UpdateMediaInfo(&m_mediaInfo) == 0 ? 1 : 0;
}

void DeviceEntry::SetBorder(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    m_border = Is(_GetCupsValue("OvpBorder", numOptions, options, ppd), "Enable");
}

void DeviceEntry::SetICM(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    m_icm = !Is(_GetCupsValue("OvpICM", numOptions, options, ppd), "None");
}

void DeviceEntry::SetSharpness(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    const char* value = _GetCupsValue("OvpSharpness", numOptions, options, ppd);
    m_sharpness = 0;
    if (value != nullptr) {
        const int32_t choice = _OptionToInt(value);
        if (choice >= -2 && choice <= 8) {
            m_sharpness = kSharpnessLevels[choice + 2];
        }
    }
}

void DeviceEntry::SetGamma(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    static constexpr const char* kChannels[3] = {"OvpGammaR", "OvpGammaG", "OvpGammaB"};
    ReadChannels("OvpGamma", kChannels, numOptions, options, ppd, m_gamma,
                 [](const char* v) { return GammaOf(_OptionToInt(v)); });
}

void DeviceEntry::SetIntensity(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    static constexpr const char* kChannels[3] = {"OvpBrightnessR", "OvpBrightnessG",
                                                 "OvpBrightnessB"};
    ReadChannels("OvpBrightness", kChannels, numOptions, options, ppd, m_brightness,
                 [](const char* v) { return Saturate(int64_t{_OptionToInt(v)} * 2); });
}

void DeviceEntry::SetContrast(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    static constexpr const char* kChannels[3] = {"OvpContrastR", "OvpContrastG", "OvpContrastB"};
    ReadChannels("OvpContrast", kChannels, numOptions, options, ppd, m_contrast,
                 [](const char* v) { return Saturate(int64_t{_OptionToInt(v)} * 10); });
}

void DeviceEntry::SetSaturation(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    const char* value = _GetCupsValue("OvpChroma", numOptions, options, ppd);
    m_chroma = Saturate(int64_t{_OptionToInt(value)} * 10);
}

void DeviceEntry::SetColorAdjustment(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    m_colorAdjustment = Is(_GetCupsValue("OvpColorAdjustment", numOptions, options, ppd), "Enable");
}

const char* DeviceEntry::GetICCProfile(int numOptions, cups_option_t* options, ppdfile_s* ppd,
                                       const char* /*jobId*/) {
    return GetPrinterICCProfile(_GetCupsValue("OvpICCProfile", numOptions, options, ppd));
}

void DeviceEntry::SetICCProfile(const char* path) {
    if (path != nullptr) {
        m_iccProfilePath = path;
    }
}
