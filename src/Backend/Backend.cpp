#include "Backend.h"

#include <cups/backend.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "DeviceUri.h"
#include "PrintStatusFile.h"
#include "PrinterConnection.h"
#include "PrinterAccess.h"
#include "PrinterLock.h"
#include "StatusQueries.h"
#include "StatusReport.h"
#include "StreamSender.h"

namespace qzm::backend {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kMakeAndModel[] = "Orvane QZ-M480";
constexpr char kFallbackDeviceId[] = "MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;";
constexpr auto kCancelPoll = std::chrono::milliseconds(50);

// Pauses that start short and double up to a limit; a pause ends early
// when the job is cancelled.
class Backoff {
  public:
    Backoff(const Waits& waits, const std::function<bool()>& cancelled)
        : waits_(waits), cancelled_(cancelled), next_(waits.firstPause) {}

    // False when the job was cancelled during the pause.
    bool Pause() {
        const auto end = Clock::now() + next_;
        next_ = std::min(next_ * 2, waits_.longestPause);
        while (Clock::now() < end) {
            if (Cancelled()) {
                return false;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(kCancelPoll, end - Clock::now()));
        }
        return !Cancelled();
    }
    void Restart() { next_ = waits_.firstPause; }
    bool Cancelled() const { return cancelled_ && cancelled_(); }

  private:
    const Waits& waits_;
    const std::function<bool()>& cancelled_;
    std::chrono::milliseconds next_;
};

void Report(StatusReporter& report, const Reading& reading) {
    report.ReportStatus(reading.status, "Printing.");
    report.ReportMarker(ReadingLevel(reading));
}

// Waits, asking again, while the printer needs somebody to clear its status
// (paper, ribbon, cover, jam, errors). A printer that stops answering is not
// waited for here: the next transfer finds out whether it has gone.
SendResult WaitUntilReady(usb::UsbInterface* interface, Reading reading, StatusReporter& report,
                          Backoff& backoff) {
    backoff.Restart();
    while (_NeedsAttention(reading.status)) {
        if (!backoff.Pause()) {
            return SendResult::kCancelled;
        }
        reading = ReadPrinter(interface);
        Report(report, reading);
    }
    return SendResult::kDone;
}

// Closes a descriptor it owns.
struct OwnedFd {
    int fd = -1;
    ~OwnedFd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

volatile std::sig_atomic_t gCancelled = 0;

void CancelJob(int) {
    gCancelled = 1;
}

}  // namespace

int RunDiscovery(const BusFactory& factory) {
    auto bus = factory ? factory() : nullptr;
    if (!bus) {
        return CUPS_BACKEND_OK;
    }
    _VisitOfferablePrinters(*bus, [](const std::string& serial, const std::string& id) {
        const std::string uri = _MakeDeviceUri(serial);
        const std::string info = std::string(kMakeAndModel) + " USB " + serial;
        cupsBackendReport("direct", uri.c_str(), kMakeAndModel, info.c_str(),
                          id.empty() ? kFallbackDeviceId : id.c_str(), "");
        return false;
    });
    return CUPS_BACKEND_OK;
}

int RunJob(const JobContext& context) {
    StatusReporter report(context.status);
    std::string serial;
    if (!_SerialFromDeviceUri(context.deviceUri, &serial)) {
        std::fputs("ERROR: The device URI does not name a QZ-M480.\n", context.status);
        return CUPS_BACKEND_STOP;
    }
    const JobArguments& arguments = context.arguments;
    if (!_IsJobId(arguments.jobId)) {
        return CUPS_BACKEND_FAILED;
    }
    OwnedFd file;
    int input = context.input;
    if (!arguments.file.empty()) {
        file.fd = ::open(arguments.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (file.fd < 0) {
            std::fputs("ERROR: The print file cannot be opened.\n", context.status);
            return CUPS_BACKEND_FAILED;
        }
        input = file.fd;
    }

    report.Reset();
    Backoff backoff(context.waits, context.cancelled);
    PrinterLock lock(serial);
    Connection connection;
    auto missingSince = Clock::now();
    for (;;) {
        if (backoff.Cancelled()) {
            return CUPS_BACKEND_OK;
        }
        // The daemon holds the lock for one query pass at most.
        bool busy = lock.TryLock() == PrinterLock::kLockBusy;
        if (!busy) {
            connection = FindPrinter(context.bus, serial, &busy);
            if (connection.printer) {
                break;
            }
        }
        if (busy) {
            report.Info("Waiting for the printer, which is in use.");
            missingSince = Clock::now();
        } else {
            report.SetReason("offline-report", true);
            report.Info("Waiting for the printer to be connected.");
            if (Clock::now() - missingSince >= context.waits.missingLimit) {
                return CUPS_BACKEND_RETRY;
            }
        }
        connection.Reset();
        if (!backoff.Pause()) {
            return CUPS_BACKEND_OK;
        }
    }
    usb::UsbInterface* interface = connection.printer->Interface();

    // The filter waits for this file before it lays out its first sheet.
    const Reading first = ReadPrinter(interface);
    PrintStatusFile statusFile(arguments.jobId);
    statusFile.Write(first.media);
    Report(report, first);

    StreamSender::Hooks hooks;
    hooks.cancelled = context.cancelled;
    hooks.waiting = [&report] { report.Info("Waiting for the printer to take data."); };
    hooks.sheetSent = [&]() {
        const Reading now = ReadPrinter(interface);
        Report(report, now);
        return WaitUntilReady(interface, now, report, backoff);
    };
    StreamSender sender(interface, hooks);

    SendResult result = WaitUntilReady(interface, first, report, backoff);
    // With a file of its own the backend makes the copies (a raw job);
    // from a filter the stream comes once, with the copies in it.
    const int rounds = arguments.file.empty() ? 1 : std::max(1, arguments.copies);
    for (int copy = 0; copy < rounds && result == SendResult::kDone; ++copy) {
        if (copy > 0 && ::lseek(input, 0, SEEK_SET) != 0) {
            result = SendResult::kInputError;
            break;
        }
        report.Info("Printing.");
        result = sender.Send(input);
    }

    switch (result) {
        case SendResult::kDone:
            report.ClearReasons();
            report.Info("Printer is ready.");
            return CUPS_BACKEND_OK;
        case SendResult::kCancelled:
            report.ClearReasons();
            return CUPS_BACKEND_OK;
        case SendResult::kPrinterGone:
            report.ReportStatus(kStatusOffline);
            report.Info("The printer went away in the middle of the job.");
            return CUPS_BACKEND_STOP;
        case SendResult::kInputError:
            break;
    }
    report.Info("The print data cannot be read.");
    return CUPS_BACKEND_FAILED;
}

int BackendMain(int argc, char** argv, const BusFactory& bus) {
    if (argc == 1) {
        return RunDiscovery(bus);
    }
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n",
                     argc > 0 ? argv[0] : "ovbackend");
        return CUPS_BACKEND_FAILED;
    }
    // CUPS starts backends with the umask 077. The folders on the way to the
    // cache folder that the backend may be the first to make must stay
    // open to the filter (run as another user) and to the status window;
    // every file of its own gets its mode explicitly.
    ::umask(022);
    // SIGTERM cancels the job: every wait and transfer checks the flag, and
    // a blocked read returns, since the handler does not restart calls.
    struct sigaction action {};
    action.sa_handler = CancelJob;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    JobContext context;
    context.bus = bus;
    const char* uri = std::getenv("DEVICE_URI");
    context.deviceUri = uri ? uri : argv[0];
    context.arguments.jobId = argv[1];
    context.arguments.user = argv[2];
    context.arguments.title = argv[3];
    context.arguments.copies = std::atoi(argv[4]);
    context.arguments.options = argv[5];
    if (argc == 7) {
        context.arguments.file = argv[6];
    }
    context.cancelled = [] { return gCancelled != 0; };
    return RunJob(context);
}

}  // namespace qzm::backend
