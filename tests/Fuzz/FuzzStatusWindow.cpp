// Fuzz target: the status window's poll of the printer-information file,
// from reading the file through parsing its keys to presenting the values
// on the window's labels, icon and bar (offscreen platform).
#include <QApplication>
#include <QProgressBar>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <string>

#include "AppDelegate.h"
#include "Bundle.h"
#include "FuzzSupport.h"
#include "Paths.h"

namespace {

using qzm::statusinfo::AppDelegate;
using qzm::statusinfo::Bundle;

constexpr char kSerial[] = "AB%2012";

struct Window {
    Window() {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        root = qzm::fuzz::MakeProcessRoot();
        infoPath = root + qzm::paths::kCacheFolder + "/QZ-M480_" + kSerial + ".log";
        app = std::make_unique<QApplication>(argc, argv);
        // Started with the serial alone: no printer list is consulted.
        delegate = std::make_unique<AppDelegate>(
            QStringList{QStringLiteral("StatusInfoQZ-M480"), QString::fromLatin1(kSerial)},
            std::make_unique<Bundle>(QStringLiteral(QZM480_STATUSINFO_RESOURCES),
                                     QStringLiteral("StatusInfoQZ-M480")));
        delegate->setTerminateHandler([] {});
        delegate->awakeFromNib();
        delegate->applicationWillFinishLaunching();
        delegate->m_timer->stop();
    }

    int argc = 1;
    char name[32] = "fuzz_status_window";
    char* argv[2] = {name, nullptr};
    std::string root;
    std::string infoPath;
    std::unique_ptr<QApplication> app;
    std::unique_ptr<AppDelegate> delegate;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Window window;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // A file that is not UTF-8 reads as offline after a pause for the
    // daemon's rewrite; that pause would only slow the fuzzing down.
    if (!qzm::fuzz::IsUtf8(text)) {
        return -1;
    }
    qzm::fuzz::WriteWholeFile(window.infoPath, text);
    window.delegate->repeateMethod();
    const int shown = window.delegate->progressIndicator->value();
    if (shown < 0 || shown > 100) {
        std::abort();
    }
    return 0;
}
