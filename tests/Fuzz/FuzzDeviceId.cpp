// Fuzz target: the device-ID reply and the model in it, from the bytes alone
// (even mode byte) and through the emulated printer's control request (odd).
#include "DeviceId.h"
#include "EmulatedPrinter.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qzm::fuzz::Require;
    qzm::fuzz::Input input(data, size);
    const uint8_t mode = input.Byte();
    const uint8_t configurationValue = input.Byte();
    const uint8_t interfaceNumber = input.Byte();
    const std::string reply(input.Rest());
    std::optional<std::string> deviceId;
    if (mode % 2 == 0) {
        deviceId = _DeviceIdFromReply(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    } else {
        qzm::emu::PrinterState state;
        state.deviceIdReply = reply;
        auto interface = qzm::emu::EmulatedPrinter::Create(state)->CreateInterface();
        Require(interface->OpenSeize() == 0);
        deviceId = _CopyDeviceId(interface.get(), configurationValue, interfaceNumber);
        interface->Close();
    }
    // The model lies inside the device ID, the device ID inside the reply.
    Require(!deviceId || deviceId->size() + 2 <= reply.size());
    const std::optional<std::string> model = deviceIDCopyModel(deviceId);
    Require(!model || (deviceId && deviceId->find(*model) != std::string::npos));
    return 0;
}
