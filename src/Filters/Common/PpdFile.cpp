// The filter's own PPD reader: default choices only.
#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "Common.h"

namespace {

// Longest piece of a line the reader looks at; longer lines are read in
// pieces, and only the first piece of a line can hold a default.
constexpr size_t kLinePiece = 255;

// Reads the next piece of a line (without its line feed) into piece.
// Returns false at the end of the file. startsLine tells whether the piece
// begins a line of the file.
bool ReadPiece(cups_file_t* file, std::string& piece, bool& startsLine, bool& atLineStart) {
    piece.clear();
    startsLine = atLineStart;
    int c = 0;
    while (piece.size() < kLinePiece && (c = cupsFileGetChar(file)) != -1) {
        if (c == '\n') {
            atLineStart = true;
            return true;
        }
        piece.push_back(static_cast<char>(c));
    }
    if (piece.empty() && c == -1) {
        return false;
    }
    atLineStart = c == -1;
    return true;
}

}  // namespace

ppdfile_s* wrappedPpdOpenFile(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    auto* ppd = new (std::nothrow) ppdfile_s;
    if (ppd == nullptr) {
        return nullptr;
    }
    // cupsFileOpen reads gzip-compressed files transparently.
    ppd->file = cupsFileOpen(path, "r");
    return ppd;
}

void wrappedPpdClose(ppdfile_s* ppd) {
    if (ppd == nullptr) {
        return;
    }
    if (ppd->file != nullptr) {
        cupsFileClose(ppd->file);
    }
    delete ppd;
}

const char* wrappedPpdFindDefChoice(ppdfile_s* ppd, const char* name) {
    if (ppd == nullptr || ppd->file == nullptr || name == nullptr) {
        return nullptr;
    }
    if (cupsFileRewind(ppd->file) < 0) {
        return nullptr;
    }
    // The colon is followed by exactly one space in the lines we recognise.
    const std::string prefix = std::string("*Default") + name + ": ";
    std::string piece;
    bool startsLine = true;
    bool atLineStart = true;
    while (ReadPiece(ppd->file, piece, startsLine, atLineStart)) {
        if (!startsLine || piece.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        // The answer is the first word after the prefix; blanks before it are
        // skipped. Nothing after the prefix gives the empty answer.
        size_t pos = prefix.size();
        while (pos < piece.size() && std::isspace(static_cast<unsigned char>(piece[pos]))) {
            ++pos;
        }
        size_t length = 0;
        while (pos + length < piece.size() &&
               !std::isspace(static_cast<unsigned char>(piece[pos + length])) &&
               length < sizeof ppd->defChoice - 1) {
            ++length;
        }
        std::memcpy(ppd->defChoice, piece.data() + pos, length);
        ppd->defChoice[length] = '\0';
        return ppd->defChoice;
    }
    return nullptr;
}
