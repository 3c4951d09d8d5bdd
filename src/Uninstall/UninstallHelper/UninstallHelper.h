// The privileged uninstall helper: one request in, the whole package
// removed in a fixed order, one reply out.
#pragma once

#include <iosfwd>
#include <string_view>

namespace qzm::uninstall {

// Program that unloads the status daemon's job. The helper runs it found on
// the PATH that pkexec gives it, with the fixed arguments of UnloadDaemon.
inline constexpr char kUnloadProgram[] = "systemctl";

// Removes the file or folder at the designed path (QZM480_ROOT prefixed);
// nothing there counts as success.
bool deleteFiles(std::string_view designed);

// Removes both colour profiles. Every profile is tried even after a failure;
// true only when none failed.
bool deleteProfiles();

// Stops and disables the status daemon's unit:
// `<program> disable --now com.orvane.infoqzm480.service`, started directly
// (no shell) with its standard streams on /dev/null so nothing it prints can
// be taken for the reply. Waits for it; its result is not examined.
// `program` is kUnloadProgram except in tests.
void UnloadDaemon(const char* program);

// The whole removal. Returns the reply value: true when every step that
// decides success succeeded.
bool PerformRemoval(const char* unloadProgram);

// Waits for one request line. Any line with something other than blanks in
// it is a request (its contents are not examined); blank lines are skipped.
// Returns false at end of input without a request.
bool ReadRequest(std::istream& in);

// Reads one request, performs the removal and writes the reply line
// {"reply":true} or {"reply":false}. Returns the exit status: 0 after a
// reply, 1 when input ended without a request (nothing removed, no reply).
int HandleRequest(std::istream& in, std::ostream& out, const char* unloadProgram);

}  // namespace qzm::uninstall
