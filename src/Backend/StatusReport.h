// What the backend tells CUPS about the printer while a job runs.
//
// CUPS reads the backend's standard error line by line: "STATE: +reason" and
// "STATE: -reason" add and remove printer-state-reasons, "ATTR:" sets the
// marker attributes that desktop printer settings and kiosk software show,
// "INFO:" sets the printer's state message. Nothing else is written there.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <string_view>

// The printer's status code when it could not be read: the offline code.
inline constexpr int kStatusOffline = 99999;

// Every printer-state reason this backend sets; a reason without a suffix
// counts as an error.
inline constexpr const char* kManagedReasons[] = {
    "media-empty", "marker-supply-empty", "cover-open",
    "media-jam",   "other-error",         "offline-report",
};

// The printer-state reasons for a status code (empty for a printer that can
// print, possibly busy).
std::set<std::string> _StateReasons(int status);

// True when the printer cannot take a job until somebody clears the status.
bool _NeedsAttention(int status);

// A short English state message for a status code.
std::string _StatusMessage(int status);

// The leading decimal number of a text (white space, optional sign, digits),
// 0 without digits, held within the int range.
int _LeadingInt(std::string_view text);

// Remaining prints as a marker level from 0 to 100, computed the way the
// status window shows them: initial and remaining counts less 50 each; none
// remain while the ribbon has ended or the loaded media is not one the
// printer names. -1 when unknown. The texts are the printer's answers as the
// information file keeps them (media size from the 3rd character, counts
// from the 5th); empty texts mean not read.
int _MarkerLevel(int status, std::string_view mediaSize, std::string_view initial,
                 std::string_view remain);

// Writes the status lines, each once when something changed.
class StatusReporter {
  public:
    explicit StatusReporter(std::FILE* out) : out_(out) {}

    // Removes every managed reason that an earlier job may have left.
    void Reset();
    // Brings the reasons in line with a status code; the state message
    // becomes the status's own when it sets a reason, else whenFine.
    void ReportStatus(int status, std::string_view whenFine = "Printer is ready.");
    // Sets the marker attributes when the level changed.
    void ReportMarker(int level);
    // Sets the state message.
    void Info(std::string_view message);
    // Adds or removes one reason, when that changes anything.
    void SetReason(const std::string& reason, bool present);
    // Removes every reason this object set.
    void ClearReasons();

  private:
    void Line(const std::string& text);

    std::FILE* out_;
    std::set<std::string> reasons_;
    std::string info_;
    int marker_ = -2;  // nothing reported yet
};
