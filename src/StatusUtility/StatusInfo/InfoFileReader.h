// Reads the printer-information file that the daemon keeps for one printer.
#pragma once

#include <QString>

namespace qzm::statusinfo {

// The daemon's file is well under a kilobyte; more than this is not read.
inline constexpr qint64 kInfoFileReadLimit = 64 * 1024;

// Reads the file at path as UTF-8 text into text. At most 64 KiB are read; a
// longer file is cut after its last line feed within that amount. Returns
// false when the file cannot be opened, is not a plain file, cannot be read,
// or is not valid UTF-8. Never blocks on a pipe planted at the name.
bool _ReadInfoText(const QString& path, QString& text);

}  // namespace qzm::statusinfo
