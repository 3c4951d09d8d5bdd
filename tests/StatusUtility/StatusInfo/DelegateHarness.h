// A status window delegate as the program sets it up, in a temporary
// QZM480_ROOT, with the built icons and string table, for tests that drive
// the poll and the presentation directly.
#pragma once

#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

#include "../../Support/TempRoot.h"
#include "AppDelegate.h"

namespace qzm::test {

class DelegateHarness {
  public:
    // name empty: started with the serial alone (no presence check).
    explicit DelegateHarness(
        const QString& serial = QStringLiteral("AB%2012"), const QString& name = QString(),
        const QString& resources = QStringLiteral(QZM480_STATUSINFO_RESOURCES)) {
        QStringList arguments{QStringLiteral("StatusInfoQZ-M480"), serial};
        if (!name.isEmpty()) {
            arguments << name;
        }
        delegate = std::make_unique<statusinfo::AppDelegate>(
            arguments,
            std::make_unique<statusinfo::Bundle>(resources, QStringLiteral("StatusInfoQZ-M480")));
        delegate->setTerminateHandler([this] { ++terminations; });
        delegate->awakeFromNib();
        delegate->applicationWillFinishLaunching();
        // Tests run the polls themselves.
        delegate->m_timer->stop();
    }

    // Path of a file in the cache folder, under the temporary root.
    std::string CachePath(const std::string& name) const {
        return root / ("/Library/Caches/Orvane/QZ-M480/" + name);
    }
    std::string InfoPath() const {
        return CachePath("QZ-M480_" + delegate->m_argSerialNo.toStdString() + ".log");
    }

    // Writes the information file (creating the folders).
    void WriteInfo(const QByteArray& text) const {
        std::filesystem::create_directories(CachePath(""));
        QFile file(QString::fromStdString(InfoPath()));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
    }

    QString Text(const char* key) const {
        return delegate->m_bundle->localizedString(QString::fromLatin1(key));
    }

    // The icon on screen equals the given image.
    bool ShowsIcon(const QPixmap& icon) const {
        return delegate->statusIconView->pixmap().toImage() == icon.toImage();
    }

    TempRoot root;
    std::unique_ptr<statusinfo::AppDelegate> delegate;
    int terminations = 0;
};

// An information file as the daemon writes it while the printer is attached.
inline QByteArray DaemonFile(const char* status = "00000", const char* message = "00001",
                             const char* size = "301", const char* initial = "00350",
                             const char* remain = "00200", const char* total = "0001234") {
    return QByteArray("#PRINTER_INFORMATION\nMODEL=\"QZ-M480\"\nPRINTER_STATUS=\"") + status +
           "\"\nPRINTER_MESSAGE=\"" + message +
           "\"\nPRINTER_VERSION=\"1.05\"\nPRINTER_SERIAL_NO=\"AB%2012\"\n\n"
           "#MEDIA_INFORMATION\nMEDIA_SIZE=\"" +
           size + "\"\nMEDIA_INITIAL=\"" + initial + "\"\nMEDIA_REMAIN=\"" + remain +
           "\"\n\n#COUNTER_INFORMATION\nTOTAL_COUNT=\"" + total + "\"\n\n";
}

}  // namespace qzm::test
