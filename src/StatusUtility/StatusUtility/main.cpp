// StatusUtilityQZ-M480: opens the status window for a print queue.
//
//   StatusUtilityQZ-M480 <queue name>
#include <QCoreApplication>

#include <cstdio>
#include <optional>
#include <string>

#include "AppDelegate.h"

int main(int argc, char* argv[]) {
    // The queue name is ours alone; Qt sees only the program path.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);

    std::optional<std::string> queueName;
    if (argc > 1) {
        queueName = argv[1];
    }
    qzm::statusutility::AppDelegate delegate(qzm::statusutility::AppDelegate::MainResourcePath());
    const auto result = delegate.applicationDidFinishLaunching(queueName);
    delegate.applicationWillTerminate();
    if (result == qzm::statusutility::LaunchResult::kStartFailed) {
        std::fprintf(stderr, "StatusUtilityQZ-M480: cannot start the status window %s\n",
                     delegate.WindowProgramPath().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
