// The presentation step of every poll: turns the raw values of the
// information file into the texts, icon and bar on screen.
#include <QDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "AppDelegate.h"
#include "CodeValue.h"

namespace qzm::statusinfo {

namespace {

constexpr int32_t kStatusOffline = 99999;
constexpr int32_t kStatusRibbonEnd = 1200;
constexpr char kDashes[] = "---";

// The status images, by file name, in the order they are loaded.
struct IconFile {
    const char* fileName;
    QPixmap AppDelegate::*field;
};
const std::array<IconFile, 12> kIconFiles = {{
    {"PrtStsCooling.png", &AppDelegate::m_prtStsCoolingImg},
    {"PrtStsCoverOpen.png", &AppDelegate::m_prtStsCoverOpenImg},
    {"PrtStsIdle.png", &AppDelegate::m_prtStsIdleImg},
    {"PrtStsNoScrapBox.png", &AppDelegate::m_prtStsNoScrapBoxImg},
    {"PrtStsOffline.png", &AppDelegate::m_prtStsOfflineImg},
    {"PrtStsPaperEnd.png", &AppDelegate::m_prtStsPaperEndImg},
    {"PrtStsPaperErr.png", &AppDelegate::m_prtStsPaperErrImg},
    {"PrtStsPaperJam.png", &AppDelegate::m_prtStsPaperJamImg},
    {"PrtStsPrinting.png", &AppDelegate::m_prtStsPrintingImg},
    {"PrtStsRibbonEnd.png", &AppDelegate::m_prtStsRibbonEndImg},
    {"PrtStsRibbonErr.png", &AppDelegate::m_prtStsRibbonErrImg},
    {"PrtStsSystemErr01.png", &AppDelegate::m_prtStsSystemErr01Img},
}};

// The status codes the window knows: text key and icon.
struct StatusRow {
    int32_t code;
    const char* key;
    QPixmap AppDelegate::*icon;
};
const std::array<StatusRow, 24> kStatusRows = {{
    {0, "st_00000", &AppDelegate::m_prtStsIdleImg},
    {1, "st_00001", &AppDelegate::m_prtStsPrintingImg},
    {500, "st_00500", &AppDelegate::m_prtStsCoolingImg},
    {900, "st_00900", &AppDelegate::m_prtStsIdleImg},
    {1000, "st_01000", &AppDelegate::m_prtStsCoverOpenImg},
    {1010, "st_01010", &AppDelegate::m_prtStsNoScrapBoxImg},
    {1100, "st_01100", &AppDelegate::m_prtStsPaperEndImg},
    {1200, "st_01200", &AppDelegate::m_prtStsRibbonEndImg},
    {1300, "st_01300", &AppDelegate::m_prtStsPaperJamImg},
    {1400, "st_01400", &AppDelegate::m_prtStsRibbonErrImg},
    {1500, "st_01500", &AppDelegate::m_prtStsPaperErrImg},
    {1600, "st_01600", &AppDelegate::m_prtStsSystemErr01Img},
    {2000, "st_02000", &AppDelegate::m_prtStsSystemErr01Img},
    {2100, "st_02100", &AppDelegate::m_prtStsSystemErr01Img},
    {2200, "st_02200", &AppDelegate::m_prtStsSystemErr01Img},
    {2300, "st_02300", &AppDelegate::m_prtStsSystemErr01Img},
    {2400, "st_02400", &AppDelegate::m_prtStsSystemErr01Img},
    {2500, "st_02500", &AppDelegate::m_prtStsSystemErr01Img},
    {2600, "st_02600", &AppDelegate::m_prtStsSystemErr01Img},
    {2610, "st_02610", &AppDelegate::m_prtStsSystemErr01Img},
    {2700, "st_02700", &AppDelegate::m_prtStsSystemErr01Img},
    {2800, "st_02800", &AppDelegate::m_prtStsSystemErr01Img},
    {3000, "st_03000", &AppDelegate::m_prtStsSystemErr01Img},
    {99999, "st_99999", &AppDelegate::m_prtStsOfflineImg},
}};

bool HasMessageKey(int32_t code) {
    return (code >= 1 && code <= 6) || (code >= 100 && code <= 108) || (code >= 200 && code <= 210);
}

bool IsKnownMediaSize(int32_t code) {
    return code == 200 || code == 210 || code == 301 || code == 310;
}

QString Key(const char* prefix, int32_t code) {
    return QStringLiteral("%1%2").arg(QLatin1StringView(prefix)).arg(code, 5, 10, QLatin1Char('0'));
}

}  // namespace

void AppDelegate::setIconImage() {
    const QString folder = m_bundle ? m_bundle->resourcePath() : QString();
    for (const IconFile& icon : kIconFiles) {
        // A missing or unreadable file leaves a null image: no icon.
        this->*icon.field = QPixmap(folder + u'/' + QLatin1StringView(icon.fileName));
    }
}

int32_t AppDelegate::getMediaSizeString() {
    if (m_sizeStr_Log.isEmpty()) {
        m_sizeStr = QString::fromLatin1(kDashes);
        return 0;
    }
    const int32_t code = _IntValue(m_sizeStr_Log);
    if (!IsKnownMediaSize(code)) {
        m_sizeStr = QString::fromLatin1(kDashes);
        return 0;
    }
    m_sizeStr = Localized(Key("size_", code));
    return code;
}

void AppDelegate::getStatusMessageString() {
    m_messageStr.clear();
    if (m_messageStr_Log.isEmpty()) {
        return;
    }
    const int32_t code = _IntValue(m_messageStr_Log);
    if (HasMessageKey(code)) {
        m_messageStr = Localized(Key("ms_", code));
    }
}

int32_t AppDelegate::getStatus() {
    const int32_t code = m_statusStr_Log.isEmpty() ? kStatusOffline : _IntValue(m_statusStr_Log);
    const auto row = std::find_if(kStatusRows.begin(), kStatusRows.end(),
                                  [code](const StatusRow& r) { return r.code == code; });
    if (row == kStatusRows.end()) {
        return code;
    }
    m_statusStr = Localized(QString::fromLatin1(row->key));
    m_stsImg = this->*row->icon;
    return code;
}

void AppDelegate::updateStatus() {
    const int32_t size = getMediaSizeString();
    getStatusMessageString();
    const int32_t status = getStatus();
    bool noRemaining = status == kStatusOffline || status == kStatusRibbonEnd;

    if (size == 0 && status != kStatusRibbonEnd && status != kStatusOffline) {
        m_messageStr = m_messageStr + u'\n' + Localized(QStringLiteral("ms_00108"));
        noRemaining = true;
    }

    const QString sheets = Localized(QStringLiteral("sheets"));
    if (!m_initialStr_Log.isEmpty() && !m_remainStr_Log.isEmpty()) {
        // 64-bit arithmetic: the counts come from an untrusted file.
        const int64_t initial = _IntValue(m_initialStr_Log);
        const int64_t remain = _IntValue(m_remainStr_Log);
        const int64_t shownInitial = initial >= 51 ? initial - 50 : 0;
        if (shownInitial != 0) {
            const int64_t shownRemain = noRemaining ? 0 : remain - 50;
            m_sizeDitailsStr =
                QStringLiteral("%1 / %2  %3")
                    .arg(QString::number(shownRemain), QString::number(shownInitial), sheets);
            const float percentage =
                static_cast<float>(shownRemain) / static_cast<float>(shownInitial) * 100.0f;
            // Truncated toward zero, held within the 32-bit range.
            constexpr float kLimit = 2147483520.0f;  // largest float below 2^31
            updateUI(static_cast<int32_t>(std::clamp(std::trunc(percentage), -kLimit, kLimit)));
            return;
        }
    }
    m_sizeDitailsStr = QStringLiteral("--- / ---  %1").arg(sheets);
    updateUI(0);
}

void AppDelegate::updateUI(int32_t percentage) {
    mediaSizeLabel->setText(m_sizeStr);
    mediaCountLabel->setText(m_sizeDitailsStr);
    // The bar shows what lies in its range; a count below the reserve (a
    // negative percentage) shows an empty bar.
    progressIndicator->setValue(std::clamp<int32_t>(percentage, 0, 100));

    statusIconView->setPixmap(m_stsImg);
    statusLabel->setText(m_statusStr);
    statusMessageLabel->setText(m_messageStr);

    if (!m_totalCountStr_Log.isEmpty()) {
        m_totalCountStr = m_totalCountStr_Log;
        totalCountLabel->setText(QString::number(_IntegerValue(m_totalCountStr)));
    } else if (!m_totalCountStr.isEmpty()) {
        const bool online =
            !m_statusStr_Log.isEmpty() && _IntValue(m_statusStr_Log) != kStatusOffline;
        totalCountLabel->setText(online ? QString::number(_IntegerValue(m_totalCountStr))
                                        : QString::fromLatin1(kDashes));
    } else {
        totalCountLabel->setText(QString::fromLatin1(kDashes));
    }

    serialNumberLabel->setText(m_serialStr_Log.isEmpty() ? QString::fromLatin1(kDashes)
                                                         : m_serialStr_Log);
    firmVersionLabel->setText(m_firmVersion_Log.isEmpty() ? QString::fromLatin1(kDashes)
                                                          : m_firmVersion_Log);
    progressIndicator->repaint();
}

void AppDelegate::setMediaGroupTitle() {
    static const std::array<std::pair<int32_t, const char*>, 5> kClasses = {{
        {1, "mediaDigital"},
        {2, "mediaPremiumDigital"},
        {3, "mediaPurePremium"},
        {1004, "mediaMetallic"},
        {1023, "mediaSilverPearl"},
    }};
    const QString title = Localized(QStringLiteral("mediaGroupTitle"));
    QString mediaClass;
    if (!m_mediaClassStr_Log.isEmpty()) {
        const int32_t code = _IntValue(m_mediaClassStr_Log);
        for (const auto& [classCode, key] : kClasses) {
            if (classCode == code) {
                mediaClass = Localized(QString::fromLatin1(key));
            }
        }
    }
    if (mediaClass.isEmpty()) {
        mediaInfoBox->setTitle(title + QStringLiteral("[ --- ]"));
    } else {
        mediaInfoBox->setTitle(QStringLiteral("%1[ %2 ]").arg(title, mediaClass));
    }
    mediaInfoBox->updateGeometry();
}

}  // namespace qzm::statusinfo
