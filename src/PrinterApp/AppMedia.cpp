#include "AppMedia.h"

#include <cups/cups.h>

#include <cmath>
#include <cstdlib>

namespace qzm::app {

namespace {

struct Row {
    const char* ppdName;
    double widthPt;  // the PPD's PaperDimension, in points
    double lengthPt;
    int rollInches;
};

// The PPD's sizes; each is as large as the printer's print area for it, so
// every size is borderless.
constexpr Row kRows[] = {
    {"127x89mm", 371.52, 261.12, 5},    {"89x127mm", 261.12, 371.52, 5},
    {"127x89mmx2", 371.52, 261.12, 5},  {"89x127mmx2", 261.12, 371.52, 5},
    {"127x127mm", 371.52, 369.60, 5},   {"127x178mm", 371.52, 513.12, 5},
    {"153x102mm", 442.56, 297.60, 6},   {"102x153mm", 297.60, 442.56, 6},
    {"153x102mmx2", 442.56, 297.60, 6}, {"102x153mmx2", 297.60, 442.56, 6},
    {"153x153mm", 442.56, 440.64, 6},   {"153x204mm", 442.56, 584.64, 6},
};

int Hundredths(double points) {
    return static_cast<int>(std::lround(points * 2540.0 / 72.0));
}

std::vector<AppMedia> MakeList() {
    std::vector<AppMedia> list;
    for (const Row& row : kRows) {
        AppMedia media{row.ppdName, Hundredths(row.widthPt), Hundredths(row.lengthPt),
                       row.rollInches, {}};
        char name[128];
        pwgFormatSizeName(name, sizeof name, "om", row.ppdName, media.width, media.length, "mm");
        media.pwgName = name;
        list.push_back(std::move(media));
    }
    return list;
}

int RollOf(std::string_view mediaCode) {
    if (mediaCode.size() < 3) {
        return 0;
    }
    switch (mediaCode[0]) {
        case '2':
            return 5;
        case '3':
            return 6;
        default:
            return 0;
    }
}

}  // namespace

const std::vector<AppMedia>& _AppMediaList() {
    static const std::vector<AppMedia> list = MakeList();
    return list;
}

const AppMedia* _FindMediaByPwg(std::string_view pwgName) {
    for (const AppMedia& media : _AppMediaList()) {
        if (media.pwgName == pwgName) {
            return &media;
        }
    }
    return nullptr;
}

const AppMedia* _FindMediaBySize(int width, int length) {
    constexpr int kTolerance = 100;
    for (const AppMedia& media : _AppMediaList()) {
        if (std::abs(media.width - width) <= kTolerance &&
            std::abs(media.length - length) <= kTolerance) {
            return &media;  // the single-sheet size comes first in the list
        }
    }
    return nullptr;
}

const AppMedia* _ReadyMediaForRoll(std::string_view mediaCode) {
    switch (RollOf(mediaCode)) {
        case 5:
            return _FindMediaByPwg(_AppMediaList()[0].pwgName);
        case 6:
            return _FindMediaByPwg(_AppMediaList()[6].pwgName);
        default:
            return nullptr;
    }
}

}  // namespace qzm::app
