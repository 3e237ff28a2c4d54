#include "protocol/commands.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/host.h"
#include "base/strings.h"
#include "base/trace.h"
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

void TraceNote(CComDevice& port, const std::string& what)
{
    if (CTraceSink* trace = port.Trace())
        trace->Event(port.GetPortName(), what);
}

// Whether the scanner answers with the port at code: with verify, it must also report
// that code as its speed. A speed the port cannot make is passed by.
bool AnswersAt(CScannerProtocol& protocol, CComDevice& port, int code, bool verify)
{
    if (!port.CanMakeSpeed(BaudFromCode(code)))
        return false;
    port.SetBaudRate(BaudFromCode(code));
    if (verify) {
        unsigned char reported = 0;
        return protocol.ReadSpeedCode(&reported) == RESULT_OK && reported == code;
    }
    // Any reply counts: something at this speed understood the request.
    unsigned char reply[5];
    return protocol.GetInfo(reply, 1) != RESULT_NO_LINK;
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

CTransferSpeed SwitchToTransferSpeed(CScannerProtocol& protocol, int code)
{
    auto* port = dynamic_cast<CComDevice*>(protocol.GetDevice());
    auto atBaseSpeed = [&](TransferSpeedOutcome outcome) {
        SetSpeed(protocol, kTransferSpeedCode, true);
        return CTransferSpeed{kTransferSpeedCode, outcome};
    };
    if (code <= kTransferSpeedCode || !ValidSpeedCode(code))
        return atBaseSpeed(TransferSpeedOutcome::Taken);
    if (port == nullptr)
        return atBaseSpeed(TransferSpeedOutcome::Kept);
    const int before = GetSpeed(protocol, true);
    if (before == code)
        return {code, TransferSpeedOutcome::Taken};
    const unsigned baud = BaudFromCode(code);
    const std::string speed = "transfer speed " + std::to_string(baud);
    // The scanner is never sent where its port cannot follow: it would be stranded there.
    if (!port->CanMakeSpeed(baud)) {
        TraceNote(*port, speed + " not asked, the port cannot make it; 115200 kept");
        return atBaseSpeed(TransferSpeedOutcome::Kept);
    }
    const int result = protocol.WriteSpeedCode(static_cast<unsigned char>(code));
    if (result == STATUS_NOT_SUPPORTED || result == STATUS_INVALID_PARAMS) {
        TraceNote(*port, speed + " refused, status " + std::to_string(result) + "; 115200 kept");
        return atBaseSpeed(TransferSpeedOutcome::Kept);
    }
    // Any other answer, or none: the scanner may have switched.
    WaitPolling(protocol.Host(), nullptr, nullptr, kSpeedSettleMs, kSpeedSettleMs);
    int foundAt = -1;
    {
        // A line that cannot carry the speed must cost a second or so, not time-outs.
        CTimeoutGuard shortTimeout(*port, kSearchTimeoutMs);
        if (AnswersAt(protocol, *port, code, true))
            return {code, TransferSpeedOutcome::Taken};
        TraceNote(*port, speed + " failed its check");
        // A scanner may acknowledge a speed and not take it, or fall back by itself.
        const int candidates[] = {code, before, kTransferSpeedCode};
        for (int k = 0; k < 3 && foundAt < 0; ++k) {
            if (std::find(candidates, candidates + k, candidates[k]) == candidates + k &&
                AnswersAt(protocol, *port, candidates[k], false))
                foundAt = candidates[k];
        }
    }
    if (foundAt < 0) {
        TraceNote(*port, "scanner not found after the switch to " + std::to_string(baud));
        return {-1, TransferSpeedOutcome::Lost};
    }
    TraceNote(*port, "scanner found at " + std::to_string(BaudFromCode(foundAt)) +
                         "; the transfer goes at 115200");
    return atBaseSpeed(TransferSpeedOutcome::FellBack);
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
