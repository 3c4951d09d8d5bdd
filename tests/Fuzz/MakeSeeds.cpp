// qzm480-fuzz-seeds: writes the small seed corpus of every fuzz target.
//
//   qzm480-fuzz-seeds OUTDIR PPD
//
// Each target gets OUTDIR/<target>/ with a handful of valid and nearly valid
// inputs in the layout its harness reads. PPD is the package's own PPD, used
// plain and gzip-compressed.
#include <cups/cups.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceCmd.h"

namespace {

namespace fs = std::filesystem;

class SeedWriter {
  public:
    SeedWriter(const fs::path& out, const std::string& target) : folder_(out / target) {
        fs::create_directories(folder_);
    }
    void Add(const std::string& bytes) {
        char name[16];
        std::snprintf(name, sizeof name, "seed-%03d", ++count_);
        std::ofstream(folder_ / name, std::ios::binary) << bytes;
    }
    fs::path Path(const std::string& name) const { return folder_ / name; }

  private:
    fs::path folder_;
    int count_ = 0;
};

std::string Byte(int value) {
    return std::string(1, static_cast<char>(value));
}

// A printer answer: 8 decimal digits of length, then the data.
std::string Answer(const std::string& data) {
    char header[16];
    std::snprintf(header, sizeof header, "%08zu", data.size());
    return header + data;
}

std::string Packet(const char* command, const char* subCommand, const std::string& payload) {
    DeviceCmd packet(command, subCommand, static_cast<int32_t>(payload.size()),
                     payload.empty() ? nullptr : payload.data());
    return std::string(reinterpret_cast<const char*>(packet.m_data), packet.m_length);
}

void StoreLE(std::string& bytes, size_t at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// An 8-bit bottom-up BMP with a grey palette, width x height pixels.
std::string PlaneBmp(int width, int height) {
    const uint32_t row = (width + 3) / 4 * 4;
    const uint32_t offset = 54 + 256 * 4;
    std::string bmp(offset + row * height, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    StoreLE(bmp, 2, static_cast<uint32_t>(bmp.size()), 4);
    StoreLE(bmp, 10, offset, 4);
    StoreLE(bmp, 14, 40, 4);
    StoreLE(bmp, 18, width, 4);
    StoreLE(bmp, 22, height, 4);
    StoreLE(bmp, 26, 1, 2);
    StoreLE(bmp, 28, 8, 2);
    StoreLE(bmp, 34, row * height, 4);
    StoreLE(bmp, 46, 256, 4);
    for (int i = 0; i < 256; ++i) {
        bmp[54 + 4 * i] = bmp[55 + 4 * i] = bmp[56 + 4 * i] = static_cast<char>(i);
    }
    for (uint32_t i = offset; i < bmp.size(); ++i) {
        bmp[i] = static_cast<char>(i * 7);
    }
    return bmp;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void PpdSeeds(const fs::path& out, const std::string& ppdPath) {
    SeedWriter seeds(out, "fuzz_ppd_default");
    // The package's PPD cut down to its first lines and its default lines,
    // so that each run stays short.
    std::istringstream full(ReadFile(ppdPath));
    std::string ppd;
    int lineCount = 0;
    for (std::string line; std::getline(full, line);) {
        if (++lineCount <= 20 || line.rfind("*Default", 0) == 0) {
            ppd += line + "\n";
        }
    }
    seeds.Add(Byte(0) + Byte(1) + ppd);
    seeds.Add(Byte(10) + Byte(15) +
              "*PPD-Adobe: \"4.3\"\n*DefaultOvpGamma: 20 more words\n"
              "*DefaultResolution:300dpi\n*DefaultPageSize: \n");
    // The same PPD compressed, as the queue's PPD is installed.
    const fs::path gz = seeds.Path("compressed.tmp");
    if (cups_file_t* file = cupsFileOpen(gz.c_str(), "w9")) {
        cupsFileWrite(file, ppd.data(), ppd.size());
        cupsFileClose(file);
        seeds.Add(Byte(1) + Byte(0) + ReadFile(gz));
        fs::remove(gz);
    }
}

void PrintStatusSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_print_status");
    seeds.Add(Byte(0) + Byte(127) + Byte(0) + "MEDIA_SIZE=\"00210\"\n");
    seeds.Add(Byte(0) + Byte(127) + Byte(0) + "JOB=1\nMEDIA_SIZE=\"\"\nEND\n");
    seeds.Add(Byte(0) + Byte(3) + Byte(0) + "X MEDIA_SIZE=\"0021034567\"\n");
    seeds.Add(Byte(0) + Byte(255) + Byte(0) + std::string(300, 'Q') + "MEDIA_SIZE=\"1\"\n");
}

void DaemonSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_daemon_response");
    // Single queries (mode 0), in the order of the harness's query table.
    const char* data[] = {"00000\r\n",   "QZ 0001\r\n",  "1.05\r\n",
                          "01200\r\n",   "00000400\r\n", "00000123\r\n",
                          "0000042\r\n", "00000000\r\n", "00\r\n"};
    for (int i = 0; i < 9; ++i) {
        seeds.Add(Byte(0) + Byte(i) + Answer(data[i]));
    }
    seeds.Add(Byte(0) + Byte(1) + Answer("\xC3\xA9" + std::string(70, 'x') + "\r\n"));
    // A whole pass (mode 1) with every request bit.
    const std::string sep = "\xFF\xFE";
    seeds.Add(Byte(1) + Byte(7) + Answer("0000042\r\n") + sep + Answer("00000\r\n") + sep +
              Answer("1.05\r\n") + sep + Answer("01200\r\n") + sep + Answer("00000400\r\n") + sep +
              Answer("00000123\r\n"));
    // A serial on its way to the cache folder (mode 2).
    seeds.Add(Byte(2) + Answer("AB 12\r\n"));
    seeds.Add(Byte(2) + Answer("$(id)\r\n"));
    // The response buffer alone (mode 3): variable, fixed length, with a key.
    seeds.Add(Byte(3) + Byte(0) + Byte(0) + Byte(63) + "00000006QZ01\r\n");
    seeds.Add(Byte(3) + Byte(9) + Byte(0) + Byte(63) + "0000000800000\r\n");
    seeds.Add(Byte(3) + Byte(0) + Byte(4) + Byte(10) + "FVER00000009FVER1.05\r\n");
}

void StatusWindowSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_status_window");
    const auto file = [](const char* status, const char* message, const char* size,
                         const char* initial, const char* remain) {
        return std::string("#PRINTER_INFORMATION\nMODEL=\"QZ-M480\"\nPRINTER_STATUS=\"") + status +
               "\"\nPRINTER_MESSAGE=\"" + message +
               "\"\nPRINTER_VERSION=\"1.05\"\nPRINTER_SERIAL_NO=\"AB%2012\"\n\n"
               "#MEDIA_INFORMATION\nMEDIA_SIZE=\"" +
               size + "\"\nMEDIA_INITIAL=\"" + initial + "\"\nMEDIA_REMAIN=\"" + remain +
               "\"\n\n#COUNTER_INFORMATION\nTOTAL_COUNT=\"0001234\"\n\n";
    };
    seeds.Add(file("00000", "00001", "301", "00350", "00200"));
    seeds.Add(file("01000", "00100", "200", "00000", "00200"));
    seeds.Add(file("99999", "00006", "", "", ""));
    seeds.Add(file("02610", "00207", "310", "-0001", "99999999999"));
}

void LauncherSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_launcher");
    const std::string uri = "ovbackend://Orvane/QZ-M480?serial=AB%2012";
    seeds.Add(uri);
    seeds.Add(uri + "\n!");
    seeds.Add(uri + "\nOther\tusb://x\nStudio printer\t" + uri + "\nLater\t" + uri);
    seeds.Add("ovbackend://Orvane/QZ-M480?serial=OPEN\n");
    seeds.Add("ovbackend://Orvane/QZ-M480?serial=");
    seeds.Add("usb://Orvane/QZ-M480?serial=X");
}

void StreamSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_stream_parser");
    std::string stream = Packet("CNTRL", "CUTTER", "00000000") +
                         Packet("CNTRL", "OVERCOAT", "00000000") +
                         Packet("IMAGE", "MULTICUT", "00000001");
    const std::string plane = PlaneBmp(5, 3);
    stream += Packet("IMAGE", "YPLANE", plane) + Packet("IMAGE", "MPLANE", plane) +
              Packet("IMAGE", "CPLANE", plane) + Packet("CNTRL", "START", "");
    seeds.Add(Byte(1) + stream);
    seeds.Add(Byte(1) + stream.substr(0, stream.size() - 7));
    seeds.Add(Byte(0) + plane);
    seeds.Add(Byte(0) + PlaneBmp(1, 1));
}

// A device-ID reply: 2-byte big-endian length counting itself, then the text.
std::string DeviceIdReply(const std::string& text) {
    const size_t length = text.size() + 2;
    return Byte(static_cast<int>(length >> 8)) + Byte(static_cast<int>(length & 0xFF)) + text;
}

void DeviceIdSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_device_id");
    const std::string id = "MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;";
    seeds.Add(Byte(0) + Byte(1) + Byte(0) + DeviceIdReply(id));
    seeds.Add(Byte(1) + Byte(1) + Byte(0) + DeviceIdReply(id));
    seeds.Add(Byte(1) + Byte(2) + Byte(1) +
              DeviceIdReply("MANUFACTURER:Orvane; model: QZ-M480 ;" + std::string(300, 'x')));
    seeds.Add(Byte(0) + Byte(1) + Byte(0) + DeviceIdReply(" MDL:A;MODEL:B"));
}

void QueueUriSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_queue_uri");
    const std::string uri = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=";
    seeds.Add(Byte(7) + Byte(0) + "AB%2012" + uri + "AB%2012");
    seeds.Add(Byte(5) + Byte(2) + "$(id)" + uri + "$(id)");
    seeds.Add(Byte(2) + Byte(1) + "AB" + "usb://Orvane/M480?serial=AB");
}

void FilterPageSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_filter_page");
    // Options line, page count, then per page: width, height, colour space,
    // bits, order, x and y resolution, copies, orientation, page size; then
    // the pixels.
    const std::string page = Byte(31) + Byte(23) + Byte(0) + Byte(0) + Byte(1) + Byte(1) + Byte(1) +
                             Byte(1) + Byte(0) + Byte(0);
    std::string pixels;
    for (int i = 0; i < 96; ++i) {
        pixels += Byte(i * 37);
    }
    seeds.Add("PageSize=127x89mm\n" + Byte(0) + page + pixels);
    seeds.Add("PageSize=127x89mmx2 OvpSharpness=3 OvpGamma=12\n" + Byte(2) + page + page + page +
              pixels);
    seeds.Add("media=102x153mm OvpICM=Enable OvpICCProfile=M480 "
              "com.apple.print.preset.Orientation..n.=2\n" +
              Byte(0) + page + pixels);
    seeds.Add("Resolution=600x600dpi OvpBorder=Enable OvpColorAdjustment=Enable "
              "OvpBrightnessR=20 OvpContrast=-3 OvpChroma=5\n" +
              Byte(1) + page + page + pixels);
}

void BackendSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_backend_status");
    const std::string nul(1, '\0');
    const std::string uri = "ovbackend://Orvane%20Imaging%20Inc./M480?serial=QZ0001";
    const std::string reply = DeviceIdReply("MFG:Orvane;MDL:QZ-M480;CLS:PRINTER;");
    seeds.Add(Byte(0) + Byte(0) + "QZ0001" + nul + "01200" + nul + "00000400" + nul +
              "00000123" + nul + reply + nul + uri);
    seeds.Add(Byte(4) + Byte(0) + "AB 12" + nul + "01310" + nul + "00000050" + nul + "x" + nul +
              DeviceIdReply("MDL:\x01\x7F") + nul + "usb://x");
    seeds.Add(Byte(5) + Byte(0) + "../x" + nul + "\n\n" + nul + nul + nul + nul);
}

void HelperSeeds(const fs::path& out) {
    SeedWriter seeds(out, "fuzz_helper_request");
    seeds.Add("{\"Uninstall\":\"Uninstall\"}\n");
    seeds.Add(" \t\r\n\n{\"Uninstall\":\"Uninstall\"}\nleft over\n");
    seeds.Add("  \n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qzm480-fuzz-seeds OUTDIR PPD\n");
        return 2;
    }
    const fs::path out = argv[1];
    PpdSeeds(out, argv[2]);
    PrintStatusSeeds(out);
    DaemonSeeds(out);
    StatusWindowSeeds(out);
    LauncherSeeds(out);
    StreamSeeds(out);
    HelperSeeds(out);
    BackendSeeds(out);
    DeviceIdSeeds(out);
    FilterPageSeeds(out);
    QueueUriSeeds(out);
    return 0;
}
