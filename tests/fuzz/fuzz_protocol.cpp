// The packet protocol and the command procedures against a scanner that answers
// anything at all: every call returns a result code or throws a failure with a message
// (or Stop); nothing crashes, hangs or reads outside a buffer.
#include <cstdint>
#include <vector>

#include "base/errors.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/mode_switch.h"
#include "protocol/scanner_protocol.h"
#include "sim/virtual_host.h"
#include "support/scripted_device.h"

namespace {

// Turns the fuzzer's bytes into replies: each reply takes a kind byte, then either raw
// line bytes or a well-framed packet echoing the request with a status and a payload,
// so the fuzzer reaches past the framing into every command's handling of its reply.
class ReplySource {
public:
    ReplySource(const uint8_t* data, size_t size) : data(data), end(data + size) {}

    CScriptedDevice::Reply Next(const CScriptedDevice::Bytes& request)
    {
        if (data == end)
            return CScriptedDevice::Silent();
        const uint8_t kind = *data++;
        const size_t length = Take() % 40;
        CScriptedDevice::Bytes bytes;
        while (bytes.size() < length && data < end)
            bytes.push_back(*data++);
        switch (kind % 4) {
        case 0:
            return CScriptedDevice::Raw(bytes);
        case 1: {
            CScriptedDevice::Reply reply = CScriptedDevice::Ok(bytes);
            reply.status = bytes.empty() ? 0 : bytes[0] % 3 == 0 ? bytes[0] : 0;
            return reply;
        }
        case 2:
            return CScriptedDevice::Status(Take());
        default: {
            // A reply of the exact length a command expects, to reach deeper steps.
            CScriptedDevice::Bytes payload(PayloadSize(request.empty() ? 0 : request[0]));
            for (uint8_t& b : payload)
                b = Take();
            return CScriptedDevice::Ok(payload);
        }
        }
    }

private:
    uint8_t Take() { return data < end ? *data++ : 0; }
    static size_t PayloadSize(uint8_t opcode)
    {
        switch (opcode) {
        case CMD_GET_INFO: return 5;
        case CMD_MODE_REGISTER: return 4;
        case CMD_BAUD_RATE: return 1;
        case CMD_GET_UNIQUE_ID: return 16;
        case CMD_READ_MEMORY: return 8;
        default: return 0;
        }
    }

    const uint8_t* data;
    const uint8_t* end;
};

template <typename F>
void Guarded(F&& call)
{
    try {
        call();
    } catch (const object_description&) {
    } catch (const stop_exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CVirtualHost host;
    CScriptedDevice device(&host, 100);
    ReplySource replies(data, size);
    device.SetResponder([&replies](const CScriptedDevice::Bytes& request) {
        return replies.Next(request);
    });
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);

    unsigned char buffer[300] = {};
    protocol.ReadModeRegister(buffer);
    protocol.GetUniqueId(buffer, TRANSPORT_SERIAL);
    protocol.GetInfo(buffer, 1);
    protocol.ReadMemory(0x1000, buffer, sizeof buffer, nullptr, nullptr, 128);
    protocol.WriteMemory(0x1000, buffer, 200, nullptr, nullptr, 128);
    Guarded([&] { Probe(protocol); });
    Guarded([&] { GetSpeed(protocol, true); });
    Guarded([&] { SetSpeed(protocol, 4, true); });
    Guarded([&] { WriteModeRegisterChecked(protocol, buffer); });
    Guarded([&] {
        uint32_t serial = 0;
        ReadSerialNumber(protocol, serial, false);
    });
    Guarded([&] {
        CDeviceInfo info;
        ReadDeviceInfo(protocol, info);
        DeviceInfoText(info);
    });
    return 0;
}
