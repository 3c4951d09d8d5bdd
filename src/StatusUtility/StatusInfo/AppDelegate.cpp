#include "AppDelegate.h"

#include <QFileInfo>
#include <QThread>

#include <array>
#include <utility>

#include "CacheFolder.h"
#include "InfoFileReader.h"
#include "Paths.h"
#include "PrinterList.h"
#include "RequestFile.h"

namespace qzm::statusinfo {

namespace {

constexpr char kWindowTitle[] = "Orvane QZ-M480";
constexpr int kPollPeriodMs = 1000;
constexpr unsigned long kRereadDelayMs = 100;

constexpr char kOfflineStatus[] = "99999";
constexpr char kOfflineMessage[] = "00006";

// The information file's keys, in the order the poll tries them.
struct KeyField {
    const char* prefix;
    QString AppDelegate::*field;
};
const std::array<KeyField, 11> kKeyFields = {{
    {"MODEL=", &AppDelegate::m_modelStr_Log},
    {"PRINTER_STATUS=", &AppDelegate::m_statusStr_Log},
    {"PRINTER_MESSAGE=", &AppDelegate::m_messageStr_Log},
    {"PRINTER_SERIAL_NO=", &AppDelegate::m_serialStr_Log},
    {"MEDIA_CLASS=", &AppDelegate::m_mediaClassStr_Log},
    {"MEDIA_SIZE=", &AppDelegate::m_sizeStr_Log},
    {"MEDIA_INITIAL=", &AppDelegate::m_initialStr_Log},
    {"MEDIA_REMAIN=", &AppDelegate::m_remainStr_Log},
    {"MEDIA_REMAIN_HALF=", &AppDelegate::m_remainHalfStr_Log},
    {"TOTAL_COUNT=", &AppDelegate::m_totalCountStr_Log},
    {"PRINTER_VERSION=", &AppDelegate::m_firmVersion_Log},
}};

}  // namespace

AppDelegate::AppDelegate(QStringList arguments, std::unique_ptr<Bundle> bundle, QObject* parent)
    : QObject(parent), m_arguments(std::move(arguments)), m_mainBundle(std::move(bundle)) {
    m_terminate = [] {};
}

AppDelegate::~AppDelegate() {
    delete window.data();
}

QString AppDelegate::Localized(const QString& key) const {
    return m_bundle ? m_bundle->localizedString(key) : key;
}

QString AppDelegate::Localized(const char* key) const {
    return Localized(QString::fromLatin1(key));
}

void AppDelegate::applicationWillFinishLaunching() {
    m_argSerialNo = m_arguments.value(1);
    if (window) {
        window->setWindowTitle(QString::fromLatin1(kWindowTitle));
    }
    m_argDeviceName = m_arguments.value(2);
    m_bundle = std::move(m_mainBundle);
    setIconImage();
    m_stsImg = m_prtStsOfflineImg;

    std::string designed = paths::kCacheFolder;
    designed += '/';
    designed += paths::kModelWord;
    designed += '_';
    designed += m_argSerialNo.toStdString();
    designed += ".log";
    // A serial holding a slash names no file of the cache folder.
    if (!m_argSerialNo.contains(u'/')) {
        m_logFilePath = QString::fromStdString(paths::Rooted(designed));
    }

    progressIndicator->setRange(0, 100);

    percent0Label->setText(Localized("percent0"));
    percent50Label->setText(Localized("percent50"));
    percent100Label->setText(Localized("percent100"));
    statusBox->setTitle(Localized("statusGroupTitle"));
    totalCountBox->setTitle(Localized("totalCountGroupTitle"));
    serialNumberbox->setTitle(Localized("serialNoGroupTitle"));
    updateButton->setText(Localized("update"));
    firmVersionbox->setTitle(Localized("firmVersionGroupTitle"));
    mediaInfoBox->setTitle(Localized("mediaGroupTitle"));
    for (QLabel* label : {mediaSizeLabel.data(), mediaCountLabel.data(), statusLabel.data(),
                          statusMessageLabel.data(), totalCountLabel.data(),
                          serialNumberLabel.data(), firmVersionLabel.data()}) {
        label->setText(QString());
    }

    m_timer = new QTimer(this);
    m_timer->setInterval(kPollPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &AppDelegate::repeateMethod);
    m_timer->start();
}

void AppDelegate::applicationDidFinishLaunching() {
    _MakeRequestFile(kStartRequestFormat, m_arguments.value(1).toStdString());
    if (window) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

void AppDelegate::applicationWillTerminate() {
    _RemoveRequestFile(kOpenMarkerFormat, m_arguments.value(1).toStdString());
}

void AppDelegate::updateButtonPushed() {
    _MakeRequestFile(kUpdateRequestFormat, m_argSerialNo.toStdString());
}

void AppDelegate::terminate() {
    if (m_timer) {
        m_timer->stop();
    }
    m_terminate();
}

bool AppDelegate::PrinterIsPresent() const {
    // Without a printer name (started with the serial alone) there is
    // nothing to look for.
    if (m_argDeviceName.isEmpty()) {
        return true;
    }
    const auto list = platform::GetPrinterList();
    if (!list) {
        return true;
    }
    // Canonically equivalent spellings of a name count as equal.
    const QString wanted = m_argDeviceName.normalized(QString::NormalizationForm_C);
    for (const auto& printer : *list) {
        if (printer.name.empty()) {
            continue;
        }
        if (QString::fromStdString(printer.name).normalized(QString::NormalizationForm_C) ==
            wanted) {
            return true;
        }
    }
    return false;
}

void AppDelegate::repeateMethod() {
    if (!PrinterIsPresent()) {
        terminate();
        return;
    }

    QString text;
    bool read = false;
    if (!m_logFilePath.isEmpty() && QFileInfo::exists(m_logFilePath)) {
        read = _ReadInfoText(m_logFilePath, text);
        if (!read) {
            // The daemon may be rewriting the file just now.
            QThread::msleep(kRereadDelayMs);
            read = _ReadInfoText(m_logFilePath, text);
        }
    }
    if (read) {
        ParseInfoText(text);
    } else {
        SetOfflineValues();
    }
    updateStatus();
}

void AppDelegate::ParseInfoText(const QString& text) {
    const QStringList lines = text.split(u'\n');
    for (const QString& line : lines) {
        for (const KeyField& key : kKeyFields) {
            const QLatin1StringView prefix(key.prefix);
            if (!line.startsWith(prefix)) {
                continue;
            }
            QString value = line.mid(prefix.size());
            value.remove(u'"');
            if (key.field == &AppDelegate::m_serialStr_Log) {
                value.replace(QStringLiteral("%20"), QStringLiteral(" "));
            }
            this->*key.field = std::move(value);
            break;
        }
    }
}

void AppDelegate::SetOfflineValues() {
    for (const KeyField& key : kKeyFields) {
        (this->*key.field).clear();
    }
    m_statusStr_Log = QString::fromLatin1(kOfflineStatus);
    m_messageStr_Log = QString::fromLatin1(kOfflineMessage);
}

}  // namespace qzm::statusinfo
