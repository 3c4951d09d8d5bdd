#include "AppJob.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppDevice.h"
#include "AppMedia.h"
#include "AppStatus.h"
#include "FilterDriver.h"
#include "JobSettings.h"
#include "StatusReport.h"

namespace qzm::app {

namespace {

using Clock = std::chrono::steady_clock;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// One job's state between PAPPL's callbacks.
struct AppJob {
    JobOptions options;
    std::unique_ptr<DeviceEntry_QZM480> entry = std::make_unique<DeviceEntry_QZM480>();
    FilterJob filter;
    std::vector<uint8_t> out;  // packets not sent yet
    size_t setupBytes = 0;     // of out: the job's set-up packets, before any sheet
    std::unique_ptr<uint8_t, FreeDeleter> page;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t lines = 0;  // of the page, received so far
    int slot = 0;
    int pageIndex = 0;
};

AppJob* JobOf(pappl_job_t* job) {
    return static_cast<AppJob*>(papplJobGetData(job));
}

void EndState(pappl_job_t* job) {
    delete JobOf(job);
    papplJobSetData(job, nullptr);
}

bool Fail(pappl_job_t* job, pappl_jreason_t reason, const std::string& message) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
    papplJobSetMessage(job, "%s", message.c_str());
    papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
    return false;
}

// Waits, asking again, while the printer needs somebody to clear its status;
// false when the job was cancelled meanwhile.
bool WaitUntilReady(pappl_job_t* job, usb::UsbInterface* interface, backend::Reading reading) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    auto pause = std::chrono::milliseconds(250);
    _ApplyReading(printer, reading);
    while (_NeedsAttention(reading.status)) {
        papplJobSetMessage(job, "%s", _StatusMessage(reading.status).c_str());
        const auto end = Clock::now() + pause;
        while (Clock::now() < end) {
            if (papplJobIsCanceled(job)) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        pause = std::min(pause * 2, std::chrono::milliseconds(5000));
        reading = backend::ReadPrinter(interface);
        _ApplyReading(printer, reading);
    }
    return true;
}

// Writes the packets held when a sheet is among them. False when the printer
// did not take them.
bool SendSheets(pappl_job_t* job, AppJob& state, pappl_device_t* device) {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Held %lu bytes, %lu of them set-up.", (unsigned long)state.out.size(),
                (unsigned long)state.setupBytes);
    if (state.out.size() <= state.setupBytes) {
        return true;  // no sheet yet
    }
    if (papplJobIsCanceled(job)) {
        state.out.clear();
        return true;
    }
    const bool written = papplDeviceWrite(device, state.out.data(), state.out.size()) >= 0;
    papplDeviceFlush(device);
    state.out.clear();
    state.setupBytes = 0;
    if (!written || _DeviceFailed(device)) {
        if (papplJobIsCanceled(job)) {
            return true;
        }
        if (_DeviceInterface(device) != nullptr) {
            _ApplyOffline(papplJobGetPrinter(job));
        }
        return Fail(job, PAPPL_JREASON_ABORTED_BY_SYSTEM,
                    "The printer went away in the middle of the job.");
    }
    return true;
}

}  // namespace

bool _StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    auto state = std::make_unique<AppJob>();
    // A size given by its dimensions alone is matched to the printer's own.
    std::string media = options->media.size_name;
    if (_FindMediaByPwg(media) == nullptr) {
        if (const AppMedia* found =
                _FindMediaBySize(options->media.size_width, options->media.size_length)) {
            media = found->pwgName;
        }
    }
    std::string error;
    if (!_MakeJobOptions(media.c_str(), options->printer_resolution[0],
                         options->printer_resolution[1], options->num_vendor, options->vendor,
                         &state->options, &error)) {
        return Fail(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, error);
    }

    AppJob* raw = state.get();
    state->entry->m_output = [raw](const uint8_t* bytes, size_t length) {
        raw->out.insert(raw->out.end(), bytes, bytes + length);
    };
    FilterJob& filter = state->filter;
    filter.entry = state->entry.get();
    filter.numOptions = state->options.Count();
    filter.options = state->options.Options();
    const std::string jobId = std::to_string(papplJobGetID(job));
    _ConfigureSettings(filter, jobId.c_str());
    state->setupBytes = state->out.size();

    // The printer's loaded media decides whether two pages share a sheet,
    // as the print-status file does for the filter.
    std::string mediaCode;
    if (usb::UsbInterface* interface = _DeviceInterface(device)) {
        const backend::Reading reading = backend::ReadPrinter(interface);
        mediaCode = backend::MediaCode(reading);
        if (!WaitUntilReady(job, interface, reading)) {
            return false;
        }
        StreamSender::Hooks hooks;
        hooks.sheetSent = [job, interface]() {
            return WaitUntilReady(job, interface, backend::ReadPrinter(interface))
                       ? SendResult::kDone
                       : SendResult::kCancelled;
        };
        _SetDeviceHooks(device, hooks);
    }
    filter.layoutCount = state->entry->GetMultiLayoutNumForMedia(mediaCode.c_str());
    filter.remainHalf = state->entry->GetRemainHalf(jobId.c_str());
    papplJobSetData(job, state.release());
    return true;
}

bool _StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
    AppJob* state = JobOf(job);
    if (state == nullptr) {
        return false;
    }
    const cups_page_header2_t& header = options->header;
    const uint32_t width = header.cupsWidth;
    const uint32_t height = header.cupsHeight;
    const uint64_t stride = _PageStride(width);
    if (header.cupsBitsPerPixel != 24 || header.cupsBytesPerLine < uint64_t{width} * 3) {
        return Fail(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                    "The page is not 8-bit RGB: the printer prints colour pages only.");
    }
    if (width == 0 || height == 0 || width > kMaxPageSide || height > kMaxPageSide ||
        stride * height > kMaxPageBytes) {
        return Fail(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                    "The page is " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels, larger than any page of the printer.");
    }
    state->page.reset(static_cast<uint8_t*>(std::calloc(height, stride)));
    if (!state->page) {
        return Fail(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "Not enough memory for the page.");
    }
    state->width = width;
    state->height = height;
    state->lines = 0;
    return true;
}

bool _WriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                const unsigned char* line) {
    AppJob* state = JobOf(job);
    if (state == nullptr || !state->page) {
        return false;
    }
    if (y < state->height) {
        _CopyRasterLine(line, state->page.get(), state->width, state->height, y, false);
        ++state->lines;
    }
    return true;
}

bool _EndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned) {
    AppJob* state = JobOf(job);
    if (state == nullptr || !state->page) {
        return false;
    }
    if (papplJobIsCanceled(job)) {
        state->page.reset();
        return true;
    }
    // A page cut short is not printed: the job ends with an error instead.
    if (state->lines < state->height) {
        state->page.reset();
        return Fail(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                    "The page is cut short: " + std::to_string(state->lines) + " of " +
                        std::to_string(state->height) + " lines arrived.");
    }
    _tagBITMAPHANDLE* image = state->entry->MakeImageData(state->page.release(), state->width,
                                                          state->height, state->slot);
    if (image == nullptr) {
        return Fail(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "The page could not be processed.");
    }
    // PAPPL hands every copy over as a page of its own.
    _PlaceImage(state->filter, image, 1, state->pageIndex, &state->slot);
    IL_FreeBitmap(image);
    std::free(image);
    ++state->pageIndex;
    return SendSheets(job, *state, device);
}

bool _EndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    AppJob* state = JobOf(job);
    if (state == nullptr) {
        return false;
    }
    bool ok = true;
    if (!papplJobIsCanceled(job) && state->slot > 0) {
        _PrintSheet(state->filter, state->slot);
        state->slot = 0;
        ok = SendSheets(job, *state, device);
    }
    _SetDeviceHooks(device, {});
    EndState(job);
    return ok;
}

}  // namespace qzm::app
