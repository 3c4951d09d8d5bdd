#include "StatusReport.h"

#include <cctype>
#include <climits>
#include <cstdint>

namespace {

constexpr int kStatusCoverOpen = 1000;
constexpr int kStatusScrapBox = 1010;
constexpr int kStatusPaperEnd = 1100;
constexpr int kStatusRibbonEnd = 1200;
constexpr int kStatusPaperJam = 1300;
constexpr int kStatusRibbonError = 1400;
constexpr int kStatusPaperError = 1500;
constexpr int kStatusSystemError = 1600;
constexpr int kFirstServiceError = 2000;
constexpr int kLastServiceError = 3000;

// Counts the printer keeps beyond what can be printed.
constexpr int kCountReserve = 50;

bool IsKnownMedia(int code) {
    return code == 200 || code == 210 || code == 301 || code == 310;
}

}  // namespace

std::set<std::string> _StateReasons(int status) {
    switch (status) {
        case kStatusCoverOpen:
            return {"cover-open"};
        case kStatusPaperEnd:
            return {"media-empty"};
        case kStatusRibbonEnd:
            return {"marker-supply-empty"};
        case kStatusPaperJam:
            return {"media-jam"};
        case kStatusScrapBox:
        case kStatusRibbonError:
        case kStatusPaperError:
        case kStatusSystemError:
            return {"other-error"};
        case kStatusOffline:
            return {"offline-report"};
        default:
            break;
    }
    if (status >= kFirstServiceError && status <= kLastServiceError) {
        return {"other-error"};
    }
    return {};
}

bool _NeedsAttention(int status) {
    return status != kStatusOffline && !_StateReasons(status).empty();
}

std::string _StatusMessage(int status) {
    switch (status) {
        case kStatusCoverOpen:
            return "The printer's cover is open.";
        case kStatusScrapBox:
            return "The printer's scrap box is missing.";
        case kStatusPaperEnd:
            return "The printer is out of paper.";
        case kStatusRibbonEnd:
            return "The printer's ribbon has ended.";
        case kStatusPaperJam:
            return "Paper is jammed in the printer.";
        case kStatusRibbonError:
            return "The printer reports a ribbon error.";
        case kStatusPaperError:
            return "The printer reports a paper error.";
        case kStatusOffline:
            return "The printer does not answer.";
        default:
            break;
    }
    if (status == kStatusSystemError ||
        (status >= kFirstServiceError && status <= kLastServiceError)) {
        return "The printer reports a system error " + std::to_string(status) + ".";
    }
    return "Printer is busy.";
}

int _LeadingInt(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    value = negative ? -value : value;
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

int _MarkerLevel(int status, std::string_view mediaSize, std::string_view initial,
                 std::string_view remain) {
    if (status == kStatusOffline || initial.empty() || remain.empty()) {
        return -1;
    }
    const int first = _LeadingInt(initial);
    const int shownInitial = first > kCountReserve ? first - kCountReserve : 0;
    if (shownInitial == 0) {
        return -1;
    }
    const bool noneLeft = status == kStatusRibbonEnd || !IsKnownMedia(_LeadingInt(mediaSize));
    // The printer's counts can be anything: the difference is taken in 64
    // bits and the percentage held to 0..100 before it becomes an int.
    const int64_t shownRemain = noneLeft ? 0 : int64_t{_LeadingInt(remain)} - kCountReserve;
    const float level =
        static_cast<float>(shownRemain) / static_cast<float>(shownInitial) * 100.0f;
    if (!(level > 0.0f)) {
        return 0;
    }
    return level >= 100.0f ? 100 : static_cast<int>(level);
}

void StatusReporter::Line(const std::string& text) {
    std::fputs((text + "\n").c_str(), out_);
    std::fflush(out_);
}

void StatusReporter::Reset() {
    std::string all;
    for (const char* reason : kManagedReasons) {
        all += (all.empty() ? "" : ",") + std::string(reason);
    }
    Line("STATE: -" + all);
    reasons_.clear();
}

void StatusReporter::SetReason(const std::string& reason, bool present) {
    if (present == (reasons_.count(reason) > 0)) {
        return;
    }
    if (present) {
        reasons_.insert(reason);
    } else {
        reasons_.erase(reason);
    }
    Line(std::string("STATE: ") + (present ? "+" : "-") + reason);
}

void StatusReporter::ReportStatus(int status, std::string_view whenFine) {
    const std::set<std::string> wanted = _StateReasons(status);
    for (const char* reason : kManagedReasons) {
        SetReason(reason, wanted.count(reason) > 0);
    }
    if (wanted.empty()) {
        Info(whenFine);
    } else {
        Info(_StatusMessage(status));
    }
}

void StatusReporter::ReportMarker(int level) {
    if (level == marker_) {
        return;
    }
    marker_ = level;
    Line("ATTR: marker-colors=none marker-names=Media marker-types=ink-ribbon marker-levels=" +
         std::to_string(level));
}

void StatusReporter::Info(std::string_view message) {
    if (message == info_) {
        return;
    }
    info_ = std::string(message);
    Line("INFO: " + info_);
}

void StatusReporter::ClearReasons() {
    const std::set<std::string> set = reasons_;
    for (const auto& reason : set) {
        SetReason(reason, false);
    }
}
