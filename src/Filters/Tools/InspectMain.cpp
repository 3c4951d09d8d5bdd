// qzm480-inspect: checks and lists a printer command stream.
//
//   qzm480-inspect [--png DIR] [FILE]
//
// Reads the stream from FILE, or from standard input when FILE is absent or
// "-". Prints one line per packet and one per printed sheet; with --png every
// sheet is also written as DIR/sheet-001.png, ... Exit status: 0 for a sound
// stream, 1 for a truncated or malformed one (the fault and its byte offset
// go to standard error), 2 for a usage or file error.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "SheetPng.h"
#include "StreamParser.h"

namespace {

using qzm::stream::Packet;
using qzm::stream::Sheet;

constexpr char kUsage[] =
    "usage: qzm480-inspect [--png DIR] [FILE]\n"
    "Checks the framing of every packet of a QZ-M480 command stream (FILE, or\n"
    "standard input) and lists the packets and printed sheets. With --png DIR\n"
    "each sheet is written as DIR/sheet-001.png, ... (cyan plane as red, magenta\n"
    "as green, yellow as blue).\n";

// What the payload column shows: short text quoted, a plane's BMP size, or
// only the length.
std::string Describe(const Packet& p) {
    if (const auto text = p.ShortText()) {
        return "\"" + *text + "\"";
    }
    if (p.payload.size() >= 26 && p.payload[0] == 'B' && p.payload[1] == 'M') {
        auto le4 = [&](size_t at) {
            return int32_t(uint32_t(p.payload[at]) | uint32_t(p.payload[at + 1]) << 8 |
                           uint32_t(p.payload[at + 2]) << 16 | uint32_t(p.payload[at + 3]) << 24);
        };
        return "BMP " + std::to_string(le4(18)) + " x " + std::to_string(le4(22));
    }
    return p.payload.empty() ? "" : "(binary)";
}

void PrintPacket(const Packet& p) {
    char length[16];
    if (p.hasLength) {
        std::snprintf(length, sizeof length, "%zu", p.payload.size());
    } else {
        std::snprintf(length, sizeof length, "-");
    }
    const std::string text = Describe(p);
    std::printf("%10" PRIu64 "  %-6s  %-16s  %8s%s%s\n", p.offset, p.command.c_str(),
                p.subCommand.c_str(), length, text.empty() ? "" : "  ", text.c_str());
}

// Reports a sheet and writes its PNG when a folder is given; false on a write error.
bool HandleSheet(const Sheet& s, const std::string& pngFolder) {
    std::printf("sheet %d at offset %" PRIu64 ": %d x %d, MULTICUT %d%s", s.number, s.offset,
                s.cyan.width, s.cyan.height, s.multicutCode,
                s.started ? "" : ", no CNTRL/START follows");
    if (!s.yellow.greyPalette || !s.magenta.greyPalette || !s.cyan.greyPalette) {
        std::printf(", palette not grey");
    }
    if (pngFolder.empty()) {
        std::printf("\n");
        return true;
    }
    const std::string path = pngFolder + "/" + qzm::stream::SheetPngName(s.number);
    std::printf(" -> %s\n", path.c_str());
    std::string error;
    if (!qzm::stream::WriteSheetPng(s, path, error)) {
        std::fflush(stdout);
        std::fprintf(stderr, "qzm480-inspect: %s\n", error.c_str());
        return false;
    }
    return true;
}

int Malformed(const qzm::stream::StreamError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "qzm480-inspect: malformed stream at byte offset %" PRIu64 ": %s\n",
                 e.offset, e.message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string pngFolder;
    std::string input;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--png" && i + 1 < argc) {
            pngFolder = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (input.empty() && (arg == "-" || arg[0] != '-')) {
            input = arg;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (!pngFolder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(pngFolder, ec);
        if (ec) {
            std::fprintf(stderr, "qzm480-inspect: cannot create %s: %s\n", pngFolder.c_str(),
                         ec.message().c_str());
            return 2;
        }
    }
    std::FILE* in = stdin;
    if (!input.empty() && input != "-") {
        in = std::fopen(input.c_str(), "rb");
        if (in == nullptr) {
            std::fprintf(stderr, "qzm480-inspect: cannot open %s: %s\n", input.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }

    qzm::stream::PacketReader reader(in);
    qzm::stream::SheetCollector collector;
    Packet packet;
    int status = 0;
    int packets = 0;
    int sheets = 0;
    std::printf("%10s  %-6s  %-16s  %8s  %s\n", "offset", "cmd", "sub-command", "length",
                "payload");
    for (;;) {
        const int r = reader.Next(packet);
        int s;
        if (r == 1) {
            ++packets;
            PrintPacket(packet);
            s = collector.Feed(packet);
        } else {
            // Also at a fault: a sheet whose planes are complete is still shown.
            s = collector.Finish();
            if (r < 0 && s < 0) {
                s = 0;
            }
        }
        if (s == 1) {
            ++sheets;
            if (!HandleSheet(collector.TakeSheet(), pngFolder)) {
                status = 2;
                break;
            }
        } else if (s < 0) {
            status = Malformed(collector.Error());
            break;
        }
        if (r < 0) {
            if (std::ferror(in)) {
                std::fprintf(stderr, "qzm480-inspect: read error at byte offset %" PRIu64 "\n",
                             reader.Offset());
                status = 2;
            } else {
                status = Malformed(reader.Error());
            }
            break;
        }
        if (r == 0) {
            std::printf("packets: %d, sheets: %d, bytes: %" PRIu64 "\n", packets, sheets,
                        reader.Offset());
            break;
        }
    }
    if (in != stdin) {
        std::fclose(in);
    }
    return status;
}
