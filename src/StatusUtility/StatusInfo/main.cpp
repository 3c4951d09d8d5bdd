// StatusInfoQZ-M480: shows one printer's state from the information file
// that the status daemon keeps for it.
//
//   StatusInfoQZ-M480 <serial number> [<printer name>]
#include <QApplication>
#include <QStringList>

#include <cstdio>

#include "AppDelegate.h"
#include "Bundle.h"
#include "CacheFolder.h"
#include "RequestFile.h"
#include "TerminationSignals.h"

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    if (arguments.size() < 2) {
        std::fprintf(stderr,
                     "usage: StatusInfoQZ-M480 <serial number> [<printer name>]\n"
                     "Opens the status window of the QZ-M480 printer with that serial number.\n");
        return 2;
    }

    CheckAndMake_CacheFolder();
    qzm::statusinfo::_MakeRequestFile(qzm::statusinfo::kOpenMarkerFormat,
                                      arguments.at(1).toStdString());

    // Our arguments are ours alone: Qt sees only the program path, so a
    // serial number that looks like a Qt option stays a serial number.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    qzm::statusinfo::_QuitOnTerminationSignals();

    qzm::statusinfo::AppDelegate delegate(arguments,
                                          qzm::statusinfo::Bundle::Main("StatusInfoQZ-M480"));
    delegate.awakeFromNib();
    QApplication::setQuitOnLastWindowClosed(
        delegate.applicationShouldTerminateAfterLastWindowClosed());
    delegate.setTerminateHandler([] { QCoreApplication::quit(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &qzm::statusinfo::AppDelegate::applicationWillTerminate);

    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
