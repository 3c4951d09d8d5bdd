#include "AppDelegate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <cstring>
#include <utility>

#include "Paths.h"
#include "PrinterList.h"

namespace qzm::statusutility {

namespace {

constexpr char kQueueOption[] = "device-uri";
constexpr char kModelMark[] = "M480";
constexpr char kBrandMark[] = "Orvane";
constexpr char kSchemeMark[] = "ovbackend";
constexpr char kSerialMark[] = "serial=";
constexpr char kWindowProgram[] = "/StatusInfoQZ-M480.app/Contents/MacOS/StatusInfoQZ-M480";

// Device URIs and printer names are handled in 255-byte buffers: 254 bytes
// of text at most.
constexpr size_t kTextLimit = 254;

}  // namespace

AppDelegate::AppDelegate(QString resourcePath, LaunchServices services)
    : m_resourcePath(std::move(resourcePath)), m_services(std::move(services)) {
    if (!m_services.printerList) {
        m_services.printerList = platform::GetPrinterList;
    }
    if (!m_services.startDetached) {
        m_services.startDetached = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
    }
}

QString AppDelegate::MainResourcePath() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../Resources"));
}

QString AppDelegate::WindowProgramPath() const {
    return m_resourcePath + QLatin1StringView(kWindowProgram);
}

LaunchResult AppDelegate::applicationDidFinishLaunching(
    const std::optional<std::string>& queueName) {
    if (!queueName) {
        return LaunchResult::kNoQueue;
    }
    EnumContext context{queueName->c_str(), this, LaunchResult::kNotFound};
    cupsEnumDests(0, 0, nullptr, 0, 0, enum_cb, &context);
    return context.result;
}

std::optional<std::string> _PrinterNameForDeviceUri(
    const std::optional<std::vector<platform::PrinterEntry>>& list, const std::string& deviceUri) {
    if (!list) {
        return std::nullopt;
    }
    std::optional<std::string> name;
    for (const auto& printer : *list) {
        // A URI or name too long for its buffer does not convert: that
        // printer cannot be matched.
        if (printer.deviceUri.empty() || printer.deviceUri.size() > kTextLimit) {
            continue;
        }
        if (printer.deviceUri == deviceUri && printer.name.size() <= kTextLimit) {
            name = printer.name;
        }
    }
    return name;
}

LaunchResult AppDelegate::OpenStatusWindow(const std::string& deviceUri,
                                           const std::string& serial) {
    QStringList arguments{QString::fromStdString(serial)};
    if (const auto name = _PrinterNameForDeviceUri(m_services.printerList(), deviceUri)) {
        arguments << QString::fromStdString(*name);
    }

    std::string marker = paths::kCacheFolder;
    marker += '/';
    marker += paths::kModelWord;
    marker += '_';
    marker += serial;
    marker += "_UTIL";
    if (QFileInfo::exists(QString::fromStdString(paths::Rooted(marker)))) {
        return LaunchResult::kAlreadyOpen;
    }
    return m_services.startDetached(WindowProgramPath(), arguments) ? LaunchResult::kStarted
                                                                    : LaunchResult::kStartFailed;
}

int enum_cb(void* user_data, unsigned /*flags*/, cups_dest_t* dest) {
    auto* context = static_cast<EnumContext*>(user_data);
    const char* uri = cupsGetOption(kQueueOption, dest->num_options, dest->options);
    if (std::strcmp(dest->name, context->queueName) != 0 || uri == nullptr) {
        return 1;
    }
    const std::string deviceUri = uri;
    if (deviceUri.find(kModelMark) == std::string::npos ||
        deviceUri.find(kBrandMark) == std::string::npos ||
        deviceUri.find(kSchemeMark) == std::string::npos) {
        return 1;
    }
    const size_t mark = deviceUri.find(kSerialMark);
    const size_t serialStart = mark + std::strlen(kSerialMark);
    if (mark == std::string::npos || serialStart >= deviceUri.size()) {
        return 1;
    }
    context->result = context->delegate->OpenStatusWindow(deviceUri, deviceUri.substr(serialStart));
    return 0;
}

}  // namespace qzm::statusutility
