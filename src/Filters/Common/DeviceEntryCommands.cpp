// DeviceEntry: the settings commands written ahead of every printed sheet.
#include <cstdio>
#include <cstring>

#include "DeviceEntry.h"

namespace {

bool Is(const char* value, const char* text) {
    return value != nullptr && std::strcmp(value, text) == 0;
}

// 8-digit decimal payload of most settings commands.
struct Digits8 {
    char text[16];
    explicit Digits8(long value) { std::snprintf(text, sizeof text, "%08ld", value); }
};

// The 2-inch cut, in the printer's unit.
constexpr long kTwoInchCut = 120;

}  // namespace

int DeviceEntry::SendControl(const char* subCommand, const char* payload, int32_t length) {
    DeviceCmd cmd;
    cmd.MakeCmd("CNTRL", subCommand, length, payload);
    DeviceIO(cmd);
    cmd.Free();
    return 1;
}

int DeviceEntry::SendCutterMode(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    // The cut follows the job's single-panel media, also for two-panel sheets.
    const bool cut = Is(_GetCupsValue("Ovp2InchCut", numOptions, options, ppd), "Enable") &&
                     m_mediaInfo.twoInchCut;
    const Digits8 payload(cut ? kTwoInchCut : 0);
    return SendControl("CUTTER", payload.text, 8);
}

int DeviceEntry::SendOvercoatFinish(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    double firmware = 0.0;
    if (_GetFirmwVersion(nullptr, &firmware) != 0) {
        return 0;
    }
    const char* value = _GetCupsValue("OvpOvercoatFinish", numOptions, options, ppd);
    int key = 0;
    if (Is(value, "Matte")) {
        key = 1;
    } else if (Is(value, "FineMatte")) {
        key = 21;
    } else if (Is(value, "Luster")) {
        key = 22;
    }
    if (SetOvercoatFinish(key, firmware) != 0) {
        return 0;
    }
    const Digits8 payload(m_overcoatInfo.code);
    return SendControl("OVERCOAT", payload.text, 8);
}

int DeviceEntry::SendPrintRetry(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    const bool off = Is(_GetCupsValue("OvpPrintRetry", numOptions, options, ppd), "Disable");
    const Digits8 payload(off ? 0 : 1);
    return SendControl("BUFFCNTRL", payload.text, 8);
}

int DeviceEntry::SendPrintSpeed(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    long speed = 0;
    if (Is(_GetCupsValue("Resolution", numOptions, options, ppd), "300x600dpi")) {
        speed = Is(_GetCupsValue("OvpPrintSpeed", numOptions, options, ppd), "Enable") ? 30 : 10;
    }
    const Digits8 payload(speed);
    return SendControl("PRINTSPEED", payload.text, 8);
}

int DeviceEntry::SendDecurl(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    if (!isSupportDecurl()) {
        return 0;
    }
    const char* value = _GetCupsValue("OvpDecurl", numOptions, options, ppd);
    const int mode = Is(value, "Enable") ? 1 : Is(value, "Disable") ? 0 : 2;
    char payload[16];
    std::snprintf(payload, sizeof payload, "%02d0000000000", mode);
    return SendControl("DECURL", payload, 12);
}

void _MakeSysTimePayload(const std::tm& local, char (&payload)[16]) {
    // Formatted into a larger buffer so that no field can run past the 14
    // digits the printer reads.
    char digits[64];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::memcpy(payload, digits, 14);
    payload[14] = 0x0D;
    payload[15] = 0x00;
}

int DeviceEntry::SendSysTime(int, cups_option_t*, ppdfile_s*) {
    if (!isSupportSysTime()) {
        return 0;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char payload[16];
    _MakeSysTimePayload(local, payload);
    return SendControl("SET_SYS_TIME", payload, 16);
}
