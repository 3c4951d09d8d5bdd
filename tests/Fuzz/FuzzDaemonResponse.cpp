// Fuzz target: the status daemon reading one answer of the emulated printer,
// in its query (a serial goes on into the cache folder) and in a whole pass
// that writes the information file. Input: a query, flags (0x80: the pass;
// request bits), the answer.
#include "EmulatedPrinter.h"
#include "FuzzSupport.h"
#include "InfoFile.h"
#include "Paths.h"
#include "SerialNumber.h"
#include "StatusQueries.h"

namespace {

namespace fs = std::filesystem;
using qzm::fuzz::Require;
using qzm::usb::UsbInterface;

struct Query {
    const char* command;
    const char* subCommand;
    int64_t (*text)(UsbInterface*, char*, size_t);  // null for "STATUS", asked in a pass
};
constexpr Query kQueries[] = {{"STATUS", "", nullptr},
                              {"INFO", "SERIAL_NUMBER", GetSerialNo},
                              {"INFO", "FVER", GetFirmVersion},
                              {"INFO", "MEDIA", GetMediaSize},
                              {"INFO", "MQTY_DEFAULT", GetMediaInitial},
                              {"INFO", "MQTY", GetMediaRemain},
                              {"MNT_RD", "COUNTER_LIFE", GetTotalCount},
                              {"INFO", "RQTY", GetMediaRemainHalf},
                              {"INFO", "MEDIA_CLASS_RFID", GetMediaClass}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = qzm::fuzz::MakeProcessRoot();
    static const std::string cache = qzm::paths::Rooted(qzm::paths::kCacheFolder);
    qzm::fuzz::Input input(data, size);
    auto printer = qzm::emu::EmulatedPrinter::Create();
    auto interface = printer->CreateInterface();
    Require(interface->OpenSeize() == 0);
    const Query& query = kQueries[input.Byte() % std::size(kQueries)];
    const uint8_t flags = input.Byte();
    const std::string answer(input.Rest());
    if (query.text != nullptr) {
        // The field holds the start of the text reported (as a field with room
        // for any answer holds it), cut between UTF-8 sequences; the file of a
        // serial lies in the cache folder, with nothing beside it.
        std::vector<char> whole(answer.size() + 4096);  // the printer's own answer on a retry
        {
            auto same = qzm::emu::EmulatedPrinter::Create();
            auto sameInterface = same->CreateInterface();
            Require(sameInterface->OpenSeize() == 0);
            same->SetRawAnswer(query.command, query.subCommand, answer);
            query.text(sameInterface.get(), whole.data(), whole.size());
            sameInterface->Close();
        }
        printer->SetRawAnswer(query.command, query.subCommand, answer);
        char field[kQueryFieldSize];
        const int64_t length = query.text(interface.get(), field, sizeof field);
        const size_t actual = ::strnlen(field, sizeof field);
        Require(actual < sizeof field && actual == size_t(std::max<int64_t>(length, 0)));
        Require(std::string_view(whole.data()).starts_with(field));
        Require(!_IsValidUtf8(whole.data()) || _IsValidUtf8(field));
        if (query.text == GetSerialNo && length >= 0) {
            WriteFile(field);
            pdeFileCheck(field);
            Require(_IsSerialUsableAsName(field) &&
                    fs::remove(cache + "/QZ-M480_" + field + ".log") && fs::is_empty(cache));
            Require(std::distance(fs::directory_iterator(fs::path(cache).parent_path()),
                                  fs::directory_iterator()) == 1);
        }
    }
    if (flags & 0x80) {
        // A whole pass (which asks for the status too) with the answer: every
        // line of the file fits 63 bytes.
        printer->SetRawAnswer(query.command, query.subCommand, answer);
        thdata record;
        std::strcpy(record.serialNo, "QZ0001");
        std::strcpy(record.modelName, "QZ-M480");
        record.requestFlags = flags & (kRequestUtil | kRequestTc | kRequestStart);
        WriteFile(interface.get(), &record);
        std::ifstream file(cache + "/QZ-M480_QZ0001.log", std::ios::binary);
        for (std::string line; std::getline(file, line);) {
            Require(line.size() < 63);
        }
        fs::remove(cache + "/QZ-M480_QZ0001.log");
    }
    interface->Close();
    return 0;
}
