// Reads the numeric codes of the printer-information file.
#pragma once

#include <QString>

#include <cstdint>

namespace qzm::statusinfo {

// The leading decimal integer of text: leading white space skipped, an
// optional sign, the digits up to the first other character; 0 without
// digits; held at the 32-bit limits on overflow.
int32_t _IntValue(const QString& text);

// The same reading with a 64-bit result.
int64_t _IntegerValue(const QString& text);

}  // namespace qzm::statusinfo
