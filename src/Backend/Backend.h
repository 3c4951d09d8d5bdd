// The CUPS backend "ovbackend": printer discovery and one print job.
//
// CUPS runs it without arguments to list the attached printers, and with
// "job-id user title copies options [file]" and DEVICE_URI in the
// environment to send a job's command stream to the printer of that URI.
// Everything it says goes to CUPS as status lines on standard error (and the
// device list on standard output); it writes no other file than the job's
// print-status file in the cache folder, and its printer lock.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "PrinterConnection.h"
#include "UsbBus.h"

namespace qzm::backend {


struct JobArguments {
    std::string jobId;
    std::string user;
    std::string title;
    int copies = 1;
    std::string options;
    std::string file;  // empty: the stream comes on standard input
};

// How long the job waits, and for what.
struct Waits {
    // First pause while the printer is busy, held by the daemon, missing or
    // in need of attention; it doubles up to the longest pause.
    std::chrono::milliseconds firstPause{250};
    std::chrono::milliseconds longestPause{5000};
    // How long a printer that is not attached is waited for before the job
    // is handed back to the scheduler.
    std::chrono::milliseconds missingLimit{60000};
};

struct JobContext {
    BusFactory bus;
    std::string deviceUri;
    JobArguments arguments;
    int input = 0;                    // standard input, used when there is no file
    std::FILE* status = stderr;       // where the status lines go
    std::function<bool()> cancelled;  // true once SIGTERM arrived
    Waits waits;
};

// Lists every attached QZ-M480 as a "direct" device on standard output.
// Returns CUPS_BACKEND_OK.
int RunDiscovery(const BusFactory& bus);

// Runs one job; returns the backend exit status:
//   CUPS_BACKEND_OK      sent, or cancelled by SIGTERM (CUPS asked for it);
//   CUPS_BACKEND_FAILED  the job's file cannot be read, or bad arguments;
//   CUPS_BACKEND_STOP    the device URI names no QZ-M480, or the printer
//                        went away in the middle of the job;
//   CUPS_BACKEND_RETRY   the printer was not attached within the wait.
int RunJob(const JobContext& context);

// The program: argument checks, SIGTERM, then discovery or a job.
int BackendMain(int argc, char** argv, const BusFactory& bus);

}  // namespace qzm::backend
