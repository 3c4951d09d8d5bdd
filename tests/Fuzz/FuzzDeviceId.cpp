// Fuzz target: the printer's device-ID reply and the model taken from it,
// from the reply's bytes alone and through the emulated printer's control
// request (which asks again with a longer buffer for long replies).
#include <cstdlib>
#include <optional>
#include <string>

#include "DeviceId.h"
#include "EmulatedPrinter.h"
#include "FuzzSupport.h"

namespace {

// The model lies inside the device ID; the device ID inside the reply.
void CheckModel(const std::optional<std::string>& deviceId, size_t replySize) {
    if (deviceId && deviceId->size() + 2 > replySize) {
        std::abort();
    }
    const std::optional<std::string> model = deviceIDCopyModel(deviceId);
    if (model && (!deviceId || deviceId->find(*model) == std::string::npos)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qzm::fuzz::Input input(data, size);
    const uint8_t mode = input.Byte();
    const uint8_t configurationValue = input.Byte();
    const uint8_t interfaceNumber = input.Byte();
    const std::string reply(input.Rest());
    if (mode % 2 == 0) {
        CheckModel(_DeviceIdFromReply(reinterpret_cast<const uint8_t*>(reply.data()), reply.size()),
                   reply.size());
        return 0;
    }
    qzm::emu::PrinterState state;
    state.deviceIdReply = reply;
    auto printer = qzm::emu::EmulatedPrinter::Create(state);
    auto interface = printer->CreateInterface();
    if (interface->OpenSeize() != 0) {
        std::abort();
    }
    CheckModel(_CopyDeviceId(interface.get(), configurationValue, interfaceNumber), reply.size());
    interface->Close();
    return 0;
}
