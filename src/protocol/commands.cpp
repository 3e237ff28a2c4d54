#include "protocol/commands.h"

#include <cstring>

#include "base/host.h"
#include "base/strings.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

namespace {

constexpr unsigned kBaudByCode[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200,
                                    230400, 460800, 921600};
constexpr int kSpeedCodeCount = 10;
constexpr unsigned kSearchTimeoutMs = 100;   // a silent speed costs three of these
constexpr uint32_t kSpeedSettleMs = 50;      // the scanner needs this to switch its line

constexpr unsigned char kModeBit = 0x02;
constexpr unsigned char kLoaderActiveBit = 0x80;
constexpr unsigned char kComparedByte2Bits = 0x03;

bool ValidSpeedCode(int code) { return code >= 0 && code < kSpeedCodeCount; }

// The code of a baud rate, or -1 for a rate outside the table.
int ExactSpeedCode(unsigned baud)
{
    for (int code = 0; code < kSpeedCodeCount; ++code) {
        if (kBaudByCode[code] == baud)
            return code;
    }
    return -1;
}

// The speed search proper, on the port the protocol talks through.
bool SearchSpeeds(CScannerProtocol& protocol, CComDevice& port, const int* preferred,
                  unsigned count)
{
    // Only a speed actually probed counts as tried: the port's own speed is probed
    // first, whatever it is, and is where a fruitless search leaves the port again.
    bool tried[kSpeedCodeCount] = {};
    const unsigned startBaud = port.GetBaudRate();
    if (Probe(protocol))
        return true;
    const int start = ExactSpeedCode(startBaud);
    if (start >= 0)
        tried[start] = true;

    auto tryCode = [&](int code) {
        if (!ValidSpeedCode(code) || tried[code])
            return false;
        // A speed the port cannot make is no place to look for the scanner.
        if (!port.CanMakeSpeed(BaudFromCode(code))) {
            tried[code] = true;
            return false;
        }
        // A silent speed costs three read time-outs: Stop is taken between speeds, so a
        // search of every speed does not hold it up for seconds.
        protocol.Host().PumpMessages();
        port.SetBaudRate(BaudFromCode(code));
        if (Probe(protocol))
            return true;
        tried[code] = true;
        return false;
    };
    for (unsigned i = 0; i < count; ++i) {
        if (tryCode(preferred[i]))
            return true;
    }
    for (int code = 0; code <= kSearchSpeedCodeLast; ++code) {
        if (tryCode(code))
            return true;
    }
    port.SetBaudRate(startBaud);
    return false;
}

}  // namespace

// ---- Command wrappers ----

int CScannerProtocol::GetInfo(unsigned char reply[5], int identity)
{
    const unsigned char selector = static_cast<unsigned char>(identity ^ 1);
    return Execute(CMD_GET_INFO, reply, 5, &selector, 1);
}

int CScannerProtocol::ReadModeRegister(unsigned char reg[4])
{
    return Execute(CMD_MODE_REGISTER, reg, 4, nullptr, 0);
}

int CScannerProtocol::WriteModeRegister(const unsigned char reg[4])
{
    return Execute(CMD_MODE_REGISTER, nullptr, 0, reg, 4);
}

int CScannerProtocol::ReadSpeedCode(unsigned char* code)
{
    return Execute(CMD_BAUD_RATE, code, 1, nullptr, 0);
}

int CScannerProtocol::WriteSpeedCode(unsigned char code)
{
    return Execute(CMD_BAUD_RATE, nullptr, 0, &code, 1);
}

int CScannerProtocol::GetUniqueId(unsigned char id[16], int transport)
{
    const unsigned char request = 0x00;
    return ExecuteVia(CMD_GET_UNIQUE_ID, id, 16, &request, 1, transport);
}

// ---- Speed codes ----

unsigned BaudFromCode(int code)
{
    return ValidSpeedCode(code) ? kBaudByCode[code] : kBaudByCode[kDefaultSpeedCode];
}

int CodeFromBaud(unsigned baud)
{
    // Every code, the fast ones too: a scanner moved to 230400 must be recorded there,
    // or the next open looks for it at 9600. Only the searches stop at code 6.
    const int code = ExactSpeedCode(baud);
    return code >= 0 ? code : kDefaultSpeedCode;
}

// ---- Procedures ----

bool Probe(CScannerProtocol& protocol, unsigned char* modelCode)
{
    unsigned char reply[5];
    const int result = protocol.GetInfo(reply, 1);
    if (result == RESULT_NO_LINK)
        return false;
    CheckResult(result);
    if (modelCode != nullptr)
        *modelCode = reply[4];
    return true;
}

int GetSpeed(CScannerProtocol& protocol, bool assumeDefault)
{
    unsigned char code = 0;
    const int result = protocol.ReadSpeedCode(&code);
    if (result == STATUS_NOT_SUPPORTED && assumeDefault)
        return kAssumedSpeedCode;
    CheckResult(result);
    return code;
}

void SetSpeed(CScannerProtocol& protocol, int code, bool tolerateUnsupported)
{
    if (GetSpeed(protocol, true) == code)
        return;
    // The scanner is never sent to a speed its port cannot follow it to: it would be
    // stranded there.
    auto* port = dynamic_cast<CComDevice*>(protocol.GetDevice());
    if (port != nullptr && !port->CanMakeSpeed(BaudFromCode(code)))
        throw CComDevice::CException::SpeedNotTaken(BaudFromCode(code));
    const int result = protocol.WriteSpeedCode(static_cast<unsigned char>(code));
    if (result == STATUS_NOT_SUPPORTED) {
        if (tolerateUnsupported)
            return;
        CheckResult(result);
    }
    // Whatever the answer, the scanner may have switched: look for it at the new speed.
    WaitPolling(protocol.Host(), nullptr, nullptr, kSpeedSettleMs, kSpeedSettleMs);
    if (!FindSpeed(protocol, &code, 1))
        CheckResult(RESULT_NO_LINK);
    if (GetSpeed(protocol, true) != code)
        throw test_exception(IDS_SPEED_CHANGE_FAILED);
}

bool FindSpeed(CScannerProtocol& protocol, const int* preferred, unsigned count)
{
    CComDevice* port = dynamic_cast<CComDevice*>(protocol.GetDevice());
    if (port == nullptr)
        return Probe(protocol);
    if (preferred == nullptr)
        count = 0;
    // A silent speed must cost little, and the caller's time-out must come back on every
    // path, a Stop or a failure included.
    CTimeoutGuard shortTimeout(*port, kSearchTimeoutMs);
    return SearchSpeeds(protocol, *port, preferred, count);
}

bool IsInMode(const unsigned char reg[4], int mode)
{
    const int running = (reg[0] & kModeBit) != 0 ? MODE_LOADER : MODE_APPLICATION;
    const int written = (reg[1] & kModeBit) != 0 ? MODE_LOADER : MODE_APPLICATION;
    if (running != mode || written != mode)
        return false;
    return mode != MODE_LOADER || (reg[3] & kLoaderActiveBit) != 0;
}

void WriteModeRegisterChecked(CScannerProtocol& protocol, const unsigned char reg[4])
{
    CheckResult(protocol.WriteModeRegister(reg));
    unsigned char readBack[4];
    CheckResult(protocol.ReadModeRegister(readBack));
    // The scanner keeps status bits of its own in byte 2; only its two low bits are ours.
    unsigned char written[4];
    std::memcpy(written, reg, 4);
    const bool ownBitsDiffer = ((written[2] ^ readBack[2]) & kComparedByte2Bits) != 0;
    written[2] = 0;
    readBack[2] = 0;
    if (ownBitsDiffer || std::memcmp(written, readBack, 4) != 0)
        throw test_exception(IDS_STATE_CHANGE_FAILED);
}
