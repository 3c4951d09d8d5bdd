// A printed sheet as a PNG picture: the photo as the printer receives it.
#pragma once

#include <string>

#include "StreamParser.h"

namespace qzm::stream {

// Writes the sheet as an 8-bit RGB PNG: the cyan plane as the red channel,
// magenta as green, yellow as blue, the picture's top row first (the last row
// of the planes' BMP payloads). Returns false with the reason in error.
bool WriteSheetPng(const Sheet& sheet, const std::string& path, std::string& error);

// File name of a sheet's PNG: "sheet-001.png" for sheet 1.
std::string SheetPngName(int number);

}  // namespace qzm::stream
