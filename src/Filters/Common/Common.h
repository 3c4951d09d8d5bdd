// Where the filter's settings come from: the job's options, the queue's PPD,
// the printer's firmware version and the job's print-status file.
//
// The filter reads the PPD with its own small reader, which answers a single
// question (the default choice of an option) and reads gzip-compressed PPDs
// as well as plain ones.
#pragma once

#include <cups/cups.h>

#include <cstdint>

// The filter's PPD handle: the PPD opened for reading (null when it could not
// be opened) and the text of the last answer. An answer stays valid until the
// next lookup on the same handle or until the handle is closed.
struct ppdfile_s {
    cups_file_t* file = nullptr;
    char defChoice[256] = {};
};

// Opens the PPD at path (plain or gzip-compressed). Returns null only for a
// null path; a file that cannot be opened still gives a handle, which then
// answers every lookup with null.
ppdfile_s* wrappedPpdOpenFile(const char* path);

// Closes the file and releases the handle; null is ignored.
void wrappedPpdClose(ppdfile_s* ppd);

// The default choice of the option as the PPD writes it ("*Default<name>: "
// then the first word), or null. A default line with nothing after the
// prefix answers the empty text.
const char* wrappedPpdFindDefChoice(ppdfile_s* ppd, const char* name);

// The value of an option: the job option of that name, for "PageSize" also
// the job option "media", else the PPD's default choice; null when none.
const char* _GetCupsValue(const char* name, int numOptions, cups_option_t* options, ppdfile_s* ppd);

// Reads an option value the way atoi does (leading blanks, a sign, digits up
// to the first non-digit, 0 without digits), but saturates at the int32
// limits instead of overflowing. A null text gives 0.
int32_t _OptionToInt(const char* text);

// The printer's firmware version. The printer is not asked: every printer of
// this model answers 1.53. Returns 0, or 3 when version is null.
int _GetFirmwVersion(void* printer, double* version);

// Copies the value of key in the job's print-status file
// ("/Library/Caches/Orvane/QZ-M480/Print_<job>.log") into out, NUL-terminated.
// Always returns 0; out is left unchanged when the file, the key or room for
// the value is missing, so callers zero it first.
int _GetValuePrInfoFile(const char* key, const char* jobId, char* out, int outSize);

// Designed path of the job's print-status file, cut at 127 characters like
// the 128-byte buffer the filter builds it in (without the QZM480_ROOT prefix).
void _MakePrintStatusPath(const char* jobId, char (&path)[128]);
