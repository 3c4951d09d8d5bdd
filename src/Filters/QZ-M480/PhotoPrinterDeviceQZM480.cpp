// The QZ-M480 model profile.
#include "PhotoPrinterDeviceQZM480.h"

#include <cstring>

#include "Paths.h"

namespace {

// Dots in one print-head line.
constexpr int kHeadWidth = 1920;

constexpr int kMedia5x35 = 1;      // 5 x 3.5 inch
constexpr int kMedia6x4 = 3;       // 6 x 4 inch, also for unknown page sizes
constexpr int kMedia5x35Twin = 7;  // two panels of code 1
constexpr int kMedia6x4Twin = 6;   // two panels of code 3

constexpr int kOvercoatRows = 9;

bool Is(const char* value, const char* text) {
    return value != nullptr && std::strcmp(value, text) == 0;
}

// Media code for a page size, and whether it asks for two images per sheet.
int MediaIdOf(const char* pageSize, bool& twoUp) {
    struct Size {
        const char* name;
        int mediaId;
        bool twoUp;
    };
    static constexpr Size kSizes[] = {
        {"127x89mm", kMedia5x35, false},  {"89x127mm", kMedia5x35, false},
        {"127x89mmx2", kMedia5x35, true}, {"89x127mmx2", kMedia5x35, true},
        {"127x127mm", 10, false},         {"127x178mm", 2, false},
        {"153x102mm", kMedia6x4, false},  {"102x153mm", kMedia6x4, false},
        {"153x102mmx2", kMedia6x4, true}, {"102x153mmx2", kMedia6x4, true},
        {"153x153mm", 11, false},         {"153x204mm", 4, false},
    };
    twoUp = false;
    for (const Size& size : kSizes) {
        if (Is(pageSize, size.name)) {
            twoUp = size.twoUp;
            return size.mediaId;
        }
    }
    return kMedia6x4;
}

DeviceMediaBufferInfo Row(int32_t mediaId, int32_t multicut, double wInch, double hInch,
                          int32_t wDots, int32_t hDots, int32_t marginY, int32_t gap,
                          int32_t panelW, int32_t panelH, int32_t panels, bool twoInchCut) {
    DeviceMediaBufferInfo row;
    row.mediaId = mediaId;
    row.multicutCode = multicut;
    row.widthInch = wInch;
    row.heightInch = hInch;
    row.baseDpi = 300;
    row.widthDots = wDots;
    row.heightDots = hDots;
    row.marginXDots = 60;
    row.marginYDots = marginY;
    row.panelGapDots = gap;
    row.panelWidthDots = panelW;
    row.panelHeightDots = panelH;
    row.panelCount = panels;
    row.twoInchCut = twoInchCut;
    row.minFirmware = 1.0;
    return row;
}

}  // namespace

const DeviceMediaBufferInfo gMediaInfo_QZM480[8] = {
    Row(1, 1, 5.0, 3.5, 1548, 1088, 54, 0, 1548, 1088, 1, false),
    Row(10, 29, 5.0, 5.0, 1548, 1540, 54, 0, 1548, 1540, 1, false),
    Row(3, 2, 6.0, 4.0, 1844, 1240, 60, 0, 1844, 1240, 1, true),
    Row(2, 3, 5.0, 7.0, 1548, 2138, 54, 0, 1548, 2138, 1, false),
    Row(11, 27, 6.0, 6.0, 1844, 1836, 54, 0, 1844, 1836, 1, false),
    Row(4, 4, 6.0, 8.0, 1844, 2436, 54, 0, 1844, 2436, 1, true),
    Row(7, 22, 5.0, 3.5, 1548, 2176, 54, 0, 1548, 1088, 2, false),
    Row(6, 12, 6.0, 4.0, 1844, 2498, 60, 18, 1844, 1240, 2, true),
};

const DeviceOvercoatInfo gOverCoatInfo_QZM480[10] = {
    {0, 0, 0, 1.0},   {1, 1, 0, 1.0},     {2, 2, 0, 1.0},     {3, 3, 0, 1.0},     {21, 21, 0, 1.2},
    {22, 22, 0, 1.3}, {101, 101, 1, 1.2}, {121, 121, 1, 1.2}, {122, 122, 1, 1.3}, {-1, 0, 0, 0.0},
};

int DeviceEntry_QZM480::GetHeadWidth() {
    return kHeadWidth;
}

int DeviceEntry_QZM480::SetMediaInfo(DeviceMediaBufferInfo* info, int mediaId, double firmware) {
    if (info == nullptr) {
        return 3;
    }
    for (const DeviceMediaBufferInfo& row : gMediaInfo_QZM480) {
        if (row.mediaId != mediaId) {
            continue;
        }
        if (firmware < row.minFirmware) {
            return 3;
        }
        // The table part of the row; the output geometry is computed below.
        info->mediaId = row.mediaId;
        info->multicutCode = row.multicutCode;
        info->widthInch = row.widthInch;
        info->heightInch = row.heightInch;
        info->baseDpi = row.baseDpi;
        info->widthDots = row.widthDots;
        info->heightDots = row.heightDots;
        info->marginXDots = row.marginXDots;
        info->marginYDots = row.marginYDots;
        info->panelGapDots = row.panelGapDots;
        info->panelWidthDots = row.panelWidthDots;
        info->panelHeightDots = row.panelHeightDots;
        info->panelCount = row.panelCount;
        info->twoInchCut = row.twoInchCut;
        info->minFirmware = row.minFirmware;
        return UpdateMediaInfo(info);
    }
    return 3;
}

int DeviceEntry_QZM480::SetMediaSize(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    m_multiLayout = false;
    double firmware = 0.0;
    if (_GetFirmwVersion(nullptr, &firmware) != 0) {
        return 0;
    }
    bool twoUp = false;
    const int mediaId = MediaIdOf(_GetCupsValue("PageSize", numOptions, options, ppd), twoUp);
    m_multiLayout = twoUp;
    if (SetMediaInfo(&m_mediaInfo, mediaId, firmware) != 0) {
        return 0;
    }
    char payload[16];
    std::snprintf(payload, sizeof payload, "%08d", m_mediaInfo.multicutCode);
    DeviceCmd cmd;
    cmd.MakeCmd("IMAGE", "MULTICUT", 8, payload);
    DeviceIO(cmd);
    cmd.Free();
    return 1;
}

DeviceMediaBufferInfo DeviceEntry_QZM480::GetMultiMediaInfo(const DeviceMediaBufferInfo& info,
                                                            int /*imageCount*/) {
    int mediaId = info.mediaId;
    if (m_multiLayout) {
        if (mediaId == kMedia5x35) {
            mediaId = kMedia5x35Twin;
        } else if (mediaId == kMedia6x4) {
            mediaId = kMedia6x4Twin;
        }
    }
    DeviceMediaBufferInfo sheet;
    double firmware = 0.0;
    if (_GetFirmwVersion(nullptr, &firmware) == 0) {
        SetMediaInfo(&sheet, mediaId, firmware);
    }
    return sheet;
}

int DeviceEntry_QZM480::GetMultiLayoutNum(const char* jobId) {
    char mediaSize[128] = {};
    _GetValuePrInfoFile("MEDIA_SIZE=", jobId, mediaSize, sizeof mediaSize);
    return GetMultiLayoutNumForMedia(mediaSize);
}

int DeviceEntry_QZM480::GetMultiLayoutNumForMedia(const char* mediaSize) {
    // Only whether a media size is named matters.
    const bool named = mediaSize != nullptr && mediaSize[0] != '\0';
    const bool twinMedia = m_mediaInfo.mediaId == kMedia5x35 || m_mediaInfo.mediaId == kMedia6x4;
    return named && m_multiLayout && twinMedia ? 2 : 1;
}

int DeviceEntry_QZM480::SetOvercoatFinish(int key, double firmware) {
    m_overcoatInfo = DeviceOvercoatInfo{};
    for (int i = 0; i < kOvercoatRows; ++i) {
        const DeviceOvercoatInfo& row = gOverCoatInfo_QZM480[i];
        if (row.key == key && row.minFirmware <= firmware) {
            m_overcoatInfo = row;
            return 0;
        }
    }
    return 3;
}

void DeviceEntry_QZM480::SetPaperRotate(int numOptions, cups_option_t* options, ppdfile_s* ppd) {
    m_paperRotate = false;
    double firmware = 0.0;
    if (_GetFirmwVersion(nullptr, &firmware) != 0) {
        return;
    }
    // These sizes are as wide as the paper is long: their page is turned by
    // 90 degrees to lie on the paper.
    const char* size = _GetCupsValue("PageSize", numOptions, options, ppd);
    m_paperRotate = Is(size, "89x127mm") || Is(size, "89x127mmx2") || Is(size, "102x153mm") ||
                    Is(size, "102x153mmx2");
}

const char* DeviceEntry_QZM480::GetPrinterICCProfile(const char* choice) {
    if (Is(choice, "M480")) {
        return qzm::paths::kProfileM480;
    }
    return qzm::paths::kProfileOV480;
}

int DeviceEntry_QZM480::GetRemainHalf(const char*) {
    return 0;
}

bool DeviceEntry_QZM480::isSupportDecurl() {
    return false;
}

bool DeviceEntry_QZM480::isSupportSysTime() {
    return false;
}
