// Fuzz target: the status daemon reading and checking the printer's answers
// (length header, data, CheckData, the effective data) through the emulated
// printer, single queries as well as a whole information pass that writes
// the information file, and the response buffer on its own.
#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "EmulatedPrinter.h"
#include "FuzzSupport.h"
#include "InfoFile.h"
#include "Paths.h"
#include "PhotoPrinterDevice.h"
#include "SerialNumber.h"
#include "StatusQueries.h"
#include "ThreadData.h"

namespace {

using qzm::emu::EmulatedPrinter;
using qzm::usb::UsbInterface;

using TextQueryFn = int64_t (*)(UsbInterface*, char*, size_t);

struct Query {
    const char* command;
    const char* subCommand;
    TextQueryFn text;  // null for "STATUS"
};

constexpr Query kQueries[] = {
    {"STATUS", "", nullptr},
    {"INFO", "SERIAL_NUMBER", GetSerialNo},
    {"INFO", "FVER", GetFirmVersion},
    {"INFO", "MEDIA", GetMediaSize},
    {"INFO", "MQTY_DEFAULT", GetMediaInitial},
    {"INFO", "MQTY", GetMediaRemain},
    {"MNT_RD", "COUNTER_LIFE", GetTotalCount},
    {"INFO", "RQTY", GetMediaRemainHalf},
    {"INFO", "MEDIA_CLASS_RFID", GetMediaClass},
};
constexpr size_t kQueryCount = sizeof kQueries / sizeof kQueries[0];

// Answers of one information pass are separated by this in the input.
constexpr std::string_view kSeparator = "\xFF\xFE";

std::string CacheFolder() {
    return qzm::paths::Rooted(qzm::paths::kCacheFolder);
}

// Every entry of a folder but "." and "..".
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

// One text query: the field holds a NUL-terminated text of the reported
// length, below 64 bytes; a serial is usable as a file name.
void RunQuery(UsbInterface* interface, const Query& query) {
    if (query.text == nullptr) {
        GetStatus(interface);
        return;
    }
    auto field = std::make_unique<char[]>(kQueryFieldSize);
    const int64_t length = query.text(interface, field.get(), kQueryFieldSize);
    const size_t actual = ::strnlen(field.get(), kQueryFieldSize);
    if (actual >= kQueryFieldSize || (length >= 0 && static_cast<size_t>(length) != actual) ||
        (length < 0 && actual != 0)) {
        std::abort();
    }
    if (query.text == GetSerialNo && !_IsSerialUsableAsName(field.get())) {
        std::abort();
    }
}

// A whole pass: the answers go, in order, to the life counter, the status,
// the firmware version and the three media queries. Every line of the file
// written fits 63 bytes with its line feed.
void RunPass(const std::shared_ptr<EmulatedPrinter>& printer, UsbInterface* interface,
             uint8_t flags, std::string_view answers) {
    static constexpr Query kOrder[] = {kQueries[6], kQueries[0], kQueries[2],
                                       kQueries[3], kQueries[4], kQueries[5]};
    const auto parts = qzm::fuzz::Split(answers, kSeparator, std::size(kOrder));
    for (size_t i = 0; i < parts.size(); ++i) {
        printer->SetRawAnswer(kOrder[i].command, kOrder[i].subCommand, std::string(parts[i]));
    }
    thdata record;
    std::strcpy(record.serialNo, "QZ0001");
    std::strcpy(record.modelName, "QZ-M480");
    record.requestFlags = flags & (kRequestUtil | kRequestTc | kRequestStart);
    WriteFile(interface, &record);

    const std::string path = CacheFolder() + "/QZ-M480_QZ0001.log";
    std::ifstream file(path, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        if (line.size() + 1 > 63) {
            std::abort();
        }
    }
    ::unlink(path.c_str());
}

// The serial's road into the cache folder: the file written for it lies in
// the cache folder, and nothing else appears beside the folder.
void RunSerial(UsbInterface* interface) {
    char serial[kQueryFieldSize] = {};
    if (GetSerialNo(interface, serial, sizeof serial) < 0) {
        return;
    }
    WriteFile(serial);
    pdeFileCheck(serial);
    const std::string written = CacheFolder() + "/QZ-M480_" + serial + ".log";
    if (::access(written.c_str(), F_OK) != 0 || ::unlink(written.c_str()) != 0) {
        std::abort();
    }
    const auto beside = Entries(qzm::paths::Rooted(qzm::paths::kCacheParent));
    if (beside.size() != 1 || beside[0] != "QZ-M480" || !Entries(CacheFolder()).empty()) {
        std::abort();
    }
}

// The response buffer alone: any bytes, any expected length and key.
void RunBuffer(qzm::fuzz::Input& input) {
    const uint8_t lengthChoice = input.Byte();
    const int dataLength = lengthChoice == 0 ? DeviceRecv::kVariableLength : lengthChoice - 1;
    const uint8_t keyLength = input.Byte() % 48;
    const uint8_t outSize = 1 + input.Byte() % 96;
    std::string_view rest = input.Rest();
    const std::string key(rest.substr(0, std::min<size_t>(keyLength, rest.size())));
    rest.remove_prefix(key.size());

    DeviceRecv response(dataLength, key.c_str());
    if (response.Alloc() != 0) {
        std::abort();
    }
    if (response.m_buffer != nullptr) {
        std::memcpy(response.m_buffer, rest.data(),
                    std::min<size_t>(rest.size(), response.GetBufferLength()));
    }
    response.CheckData();
    const std::string effective = response.GetEffectiveData();
    auto out = std::make_unique<char[]>(outSize);
    if (response.GetEffectiveDataAsString(out.get(), outSize) != 0) {
        std::abort();
    }
    // A prefix of the effective data, which stays valid UTF-8 when it was.
    const size_t length = ::strnlen(out.get(), outSize);
    if (length >= outSize || effective.compare(0, length, out.get(), length) != 0 ||
        (qzm::fuzz::IsUtf8(effective) && !qzm::fuzz::IsUtf8({out.get(), length}))) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = qzm::fuzz::MakeProcessRoot();
    qzm::fuzz::Input input(data, size);
    const uint8_t mode = input.Byte();
    if (mode % 4 == 3) {
        RunBuffer(input);
        return 0;
    }
    auto printer = EmulatedPrinter::Create();
    auto interface = printer->CreateInterface();
    if (interface->OpenSeize() != 0) {
        std::abort();
    }
    switch (mode % 4) {
        case 0: {
            const Query& query = kQueries[input.Byte() % kQueryCount];
            printer->SetRawAnswer(query.command, query.subCommand, std::string(input.Rest()));
            RunQuery(interface.get(), query);
            break;
        }
        case 1: {
            const uint8_t flags = input.Byte();
            RunPass(printer, interface.get(), flags, input.Rest());
            break;
        }
        default:
            printer->SetRawAnswer("INFO", "SERIAL_NUMBER", std::string(input.Rest()));
            RunSerial(interface.get());
            break;
    }
    interface->Close();
    return 0;
}
