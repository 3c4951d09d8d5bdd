// Fuzz target: the status window's poll of the printer-information file, from
// reading it to showing its values (offscreen platform).
#include <QApplication>
#include <QProgressBar>
#include <QStringDecoder>

#include "AppDelegate.h"
#include "Bundle.h"
#include "FuzzSupport.h"
#include "Paths.h"

namespace {

// The process-long window (and application) of serial "AB%2012", no timer.
qzm::statusinfo::AppDelegate* OpenWindow() {
    static int argc = 1;
    static char name[] = "fuzz_status_window";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    new QApplication(argc, argv);
    auto* window = new qzm::statusinfo::AppDelegate(
        {QStringLiteral("StatusInfoQZ-M480"), QStringLiteral("AB%2012")},
        std::make_unique<qzm::statusinfo::Bundle>(QStringLiteral(QZM480_STATUSINFO_RESOURCES),
                                                  QStringLiteral("StatusInfoQZ-M480")));
    window->setTerminateHandler([] {});
    window->awakeFromNib();
    window->applicationWillFinishLaunching();
    window->m_timer->stop();
    return window;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file =
        qzm::fuzz::MakeProcessRoot() + qzm::paths::kCacheFolder + "/QZ-M480_AB%2012.log";
    static qzm::statusinfo::AppDelegate* const window = OpenWindow();
    // A file that is not UTF-8 is read again after a pause: slow, left out.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    decoder.decode(QByteArrayView(data, static_cast<qsizetype>(size)));
    if (decoder.hasError()) {
        return -1;
    }
    qzm::fuzz::WriteWholeFile(file, {reinterpret_cast<const char*>(data), size});
    window->repeateMethod();
    const int shown = window->progressIndicator->value();
    qzm::fuzz::Require(shown >= 0 && shown <= 100);
    return 0;
}
