// StatusChooserQZ-M480: the desktop menu's way into the status window. It
// lists the QZ-M480 print queues, lets the user pick one when there are
// several, and starts the status launcher next to it with that queue's name.
#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStringList>

#include "QueueChooser.h"

namespace {

constexpr char kLauncherName[] = "/StatusUtilityQZ-M480";

QString Title() {
    return QObject::tr("QZ-M480 Printer Status");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto list = qzm::platform::GetPrinterList();
    if (!list) {
        QMessageBox::warning(nullptr, Title(),
                             QObject::tr("The list of printers is not available. "
                                         "Please check that CUPS is running."));
        return 1;
    }
    const auto queues = qzm::statuschooser::ModelQueues(*list);
    if (queues.empty()) {
        QMessageBox::information(nullptr, Title(),
                                 QObject::tr("There is no print queue for a QZ-M480 yet. "
                                             "Connect the printer with its USB cable and switch "
                                             "it on: its queue is made within a few seconds."));
        return 1;
    }

    int chosen = 0;
    if (queues.size() > 1) {
        QStringList labels;
        for (const auto& queue : queues) {
            labels << QString::fromStdString(qzm::statuschooser::QueueLabel(queue));
        }
        bool ok = false;
        const QString label = QInputDialog::getItem(
            nullptr, Title(), QObject::tr("Show the status of:"), labels, 0, false, &ok);
        if (!ok) {
            return 0;
        }
        chosen = static_cast<int>(labels.indexOf(label));
    }

    const QString launcher =
        QCoreApplication::applicationDirPath() + QLatin1StringView(kLauncherName);
    const QString queue = QString::fromStdString(queues[static_cast<size_t>(chosen)].queueName);
    return QProcess::startDetached(launcher, {queue}) ? 0 : 1;
}
