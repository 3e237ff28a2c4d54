// The line side of the simulated scanner: garbling at a wrong speed, request framing,
// reply timing, fault injection, speed changes and restarts.
#include <algorithm>

#include "firmware/ldr.h"
#include "protocol/scanner_protocol.h"
#include "sim/sim_scanner_impl.h"

namespace {

constexpr uint8_t kStartByte = 0x02;
constexpr uint8_t kStatusBusy = 2;
constexpr unsigned kBitsPerByte = 10;   // start bit, 8 data bits, stop bit
constexpr size_t kMaxReplyData = 256;

// What a receiver set to the wrong speed makes of a byte: a fixed function of the byte
// and both speeds, never the start byte, so garbage never frames.
uint8_t Garble(uint8_t b, uint32_t sentBaud, uint32_t readBaud)
{
    uint32_t h = b * 0x9E3779B1u ^ sentBaud * 0x85EBCA77u ^ readBaud * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    const uint8_t g = static_cast<uint8_t>(h);
    return g == kStartByte ? 0xFD : g;
}

}  // namespace

const std::vector<SimFault>& SimRecoverableFaults()
{
    static const std::vector<SimFault> faults = {
        SimFault::NoiseByte, SimFault::TwoNoiseBytes, SimFault::BadChecksum,
        SimFault::WrongEcho, SimFault::TruncatedReply, SimFault::Busy,
        SimFault::NoReply,   SimFault::LostReply};
    return faults;
}

uint32_t SimBaudFromCode(int code)
{
    static const uint32_t bauds[] = {2400, 4800, 9600, 19200, 38400,
                                     57600, 115200, 230400, 460800, 921600};
    return code >= 0 && code < 10 ? bauds[code] : 0;
}

SimFault SimFaultFromName(const std::string& name)
{
    static const std::pair<const char*, SimFault> names[] = {
        {"noise", SimFault::NoiseByte},   {"noise2", SimFault::TwoNoiseBytes},
        {"checksum", SimFault::BadChecksum}, {"echo", SimFault::WrongEcho},
        {"busy", SimFault::Busy},         {"noreply", SimFault::NoReply},
        {"lost", SimFault::LostReply},    {"short", SimFault::ShortReply},
        {"long", SimFault::LongReply},    {"status", SimFault::ErrorStatus},
        {"truncated", SimFault::TruncatedReply}, {"cut", SimFault::CutLine}};
    for (const auto& [text, fault] : names) {
        if (name == text)
            return fault;
    }
    return SimFault::None;
}

CSimScanner::Impl::Impl(SimConfig c)
    : config(std::move(c)), mode(config.startMode), speedCode(config.speedCode),
      rng(config.randomSeed)
{
}

bool CSimScanner::Impl::Garbles(uint32_t sentBaud, uint32_t readBaud) const
{
    if (config.usbCdc)
        return false;
    const bool lineTooSlow = config.maxLineBaud != 0 && sentBaud > config.maxLineBaud;
    return sentBaud != readBaud || lineTooSlow;
}

uint64_t CSimScanner::Impl::WireUs(uint32_t baud, size_t bytes) const
{
    if (!config.lineRate || baud == 0)
        return 0;
    // From the run's start, not byte by byte: a byte at 921600 lasts 10.85 us, and one
    // rounded up to 11 us would make every chunk 1.4 % longer than the wire's.
    return (uint64_t(bytes) * kBitsPerByte * 1000000u + baud - 1) / baud;
}

void CSimScanner::Impl::Advance(uint64_t nowUs)
{
    if (pendingSpeed && nowUs >= pendingSpeed->atUs) {
        speedCode = pendingSpeed->code;
        pendingSpeed.reset();
    }
    if (restart && nowUs >= restart->endUs) {
        // A restarted scanner starts from a clean register and receiver; entering the
        // loader starts a new session for the checksum verdict.
        mode = restart->mode;
        if (restart->speedCode >= 0)
            speedCode = restart->speedCode;
        stored = {};
        if (mode == 1) {
            session.Clear();
            lastWriteRefused = false;
        }
        verdictCache.reset();
        ResetReceiver();
        restart.reset();
    }
}

void CSimScanner::Impl::ReceiveByte(uint8_t b, uint64_t atUs)
{
    if (rxState != RxState::Hunt && atUs > rxLastUs + kSimFrameGapUs)
        rxState = RxState::Hunt;
    rxLastUs = std::max(rxLastUs, atUs);
    switch (rxState) {
    case RxState::Hunt:
        if (b == kStartByte)
            rxState = RxState::Length;
        break;
    case RxState::Length:
        rxState = b == 0 ? RxState::Hunt : RxState::Data;
        rxLength = b;
        rxChecksum = b;
        rxData.clear();
        break;
    case RxState::Data:
        rxData.push_back(b);
        rxChecksum ^= b;
        if (rxData.size() == rxLength)
            rxState = RxState::Check;
        break;
    case RxState::Check:
        rxState = RxState::Hunt;
        if (b == rxChecksum)
            HandleRequest(atUs);
        break;
    }
}

SimFault CSimScanner::Impl::PickFault(uint8_t opcode, unsigned char& status)
{
    for (auto it = rules.begin(); it != rules.end(); ++it) {
        if (it->opcode >= 0 && it->opcode != opcode)
            continue;
        const SimFault fault = it->fault;
        status = it->status;
        if (--it->count == 0)
            rules.erase(it);
        return fault;
    }
    if (config.randomFaultRate > 0.0) {
        // Raw generator output, not a library distribution: the same seed must give the
        // same faults on every platform.
        const uint32_t draw = static_cast<uint32_t>(rng());
        if (draw < config.randomFaultRate * 4294967296.0) {
            const std::vector<SimFault>& kinds =
                config.randomFaultKinds.empty() ? SimRecoverableFaults() : config.randomFaultKinds;
            const size_t pick = static_cast<uint32_t>(rng()) % kinds.size();
            return kinds[pick];
        }
    }
    return SimFault::None;
}

void CSimScanner::Impl::HandleRequest(uint64_t atUs)
{
    const uint8_t opcode = rxData[0];
    ++commands;
    ++commandsByOpcode[opcode];
    unsigned char faultStatus = 0;
    const SimFault fault = PickFault(opcode, faultStatus);
    if (fault != SimFault::None) {
        ++faults;
        writeFaults += opcode == CMD_WRITE_MEMORY;
    }
    if (fault == SimFault::NoReply)
        return;

    Outcome outcome;
    if (fault == SimFault::Busy) {
        outcome.status = kStatusBusy;
    } else if (fault == SimFault::ErrorStatus) {
        outcome.status = faultStatus;
        if (opcode == CMD_WRITE_MEMORY) {
            lastWriteRefused = true;
            verdictCache.reset();
        }
    } else {
        outcome = Execute(opcode, rxData.data() + 1, rxData.size() - 1);
    }

    std::vector<uint8_t> data{opcode, outcome.status};
    data.insert(data.end(), outcome.payload.begin(), outcome.payload.end());
    const uint64_t readyUs = atUs + config.turnaroundUs;
    const uint64_t doneUs =
        fault == SimFault::LostReply ? readyUs : QueueReply(std::move(data), fault, readyUs);
    if (outcome.newSpeedCode >= 0)
        pendingSpeed = PendingSpeed{outcome.newSpeedCode, doneUs};
    if (outcome.switchToMode >= 0)
        ScheduleRestart(doneUs, outcome.switchToMode);
}

uint64_t CSimScanner::Impl::QueueReply(std::vector<uint8_t> data, SimFault fault,
                                       uint64_t readyUs)
{
    if (fault == SimFault::WrongEcho)
        data[0] = static_cast<uint8_t>(~data[0]);
    if (fault == SimFault::ShortReply)
        data.pop_back();
    if (fault == SimFault::LongReply && data.size() < kMaxReplyData)
        data.push_back(0x00);

    std::vector<uint8_t> frame;
    if (fault == SimFault::NoiseByte || fault == SimFault::TwoNoiseBytes)
        frame.push_back(0xFF);
    if (fault == SimFault::TwoNoiseBytes)
        frame.push_back(0x00);
    // LEN 0 stands for 256 data bytes; the checksum starts from LEN as sent.
    const uint8_t length = static_cast<uint8_t>(data.size());
    uint8_t checksum = length;
    frame.push_back(kStartByte);
    frame.push_back(length);
    for (uint8_t b : data) {
        frame.push_back(b);
        checksum ^= b;
    }
    frame.push_back(fault == SimFault::BadChecksum ? static_cast<uint8_t>(~checksum) : checksum);
    // Half a frame still holds its start byte and length, so the host sees a reply begin.
    if (fault == SimFault::TruncatedReply || fault == SimFault::CutLine)
        frame.resize(frame.size() / 2);

    const uint32_t baud = SimBaudFromCode(speedCode);
    const uint64_t start = std::max(readyUs, lineFreeUs);
    uint64_t t = start;
    for (size_t k = 0; k < frame.size(); ++k) {
        t = start + WireUs(baud, k + 1);
        tx.push_back(TxByte{frame[k], t, baud});
    }
    lineFreeUs = t;
    if (fault == SimFault::CutLine) {
        // The port goes a moment after the last byte, so that the bytes are seen to stop.
        cutAtUs = t + kSimCutAfterUs;
        usbEvents.push_back(UsbEvent{false, *cutAtUs});
    }
    return t;
}

void CSimScanner::Impl::ScheduleRestart(uint64_t startUs, int wantedMode)
{
    ++restarts;
    int next = wantedMode;
    if (config.backInOldModeOnce && !oldModeOnceDone) {
        next = mode;
        oldModeOnceDone = true;
    }
    const uint64_t endUs = startUs + uint64_t(config.restartMs) * 1000;
    restart = Restart{startUs, endUs, next, config.restartSpeedCode};
    ResetReceiver();
    if (config.usbCdc) {
        usbEvents.push_back(UsbEvent{false, std::min(startUs + kSimUsbDetachUs, endUs)});
        usbEvents.push_back(UsbEvent{true, endUs});
    }
}

CSimScanner::CSimScanner(SimConfig config) : impl(std::make_unique<Impl>(std::move(config))) {}
CSimScanner::~CSimScanner() = default;
CSimScanner::CSimScanner(CSimScanner&&) noexcept = default;
CSimScanner& CSimScanner::operator=(CSimScanner&&) noexcept = default;

void CSimScanner::Receive(const uint8_t* data, size_t size, uint32_t hostBaud, uint64_t nowUs)
{
    for (size_t i = 0; i < size; ++i) {
        const uint64_t atUs = nowUs + impl->WireUs(hostBaud, i + 1);
        impl->Advance(atUs);
        // From the switch request to the end of the restart the scanner hears nothing,
        // nor ever after its line was cut.
        if (impl->Restarting() || impl->cutAtUs)
            continue;
        const uint32_t baud = Baud();
        const bool garbled = impl->Garbles(hostBaud, baud);
        impl->ReceiveByte(garbled ? Garble(data[i], hostBaud, baud) : data[i], atUs);
    }
}

size_t CSimScanner::Transmit(uint8_t* out, size_t max, uint32_t hostBaud, uint64_t nowUs)
{
    impl->Advance(nowUs);
    size_t n = 0;
    while (n < max && !impl->tx.empty() && impl->tx.front().atUs <= nowUs) {
        const Impl::TxByte b = impl->tx.front();
        impl->tx.pop_front();
        const bool garbled = impl->Garbles(b.baud, hostBaud);
        out[n++] = garbled ? Garble(b.value, b.baud, hostBaud) : b.value;
    }
    return n;
}

std::optional<uint64_t> CSimScanner::NextByteAtUs() const
{
    if (impl->tx.empty())
        return std::nullopt;
    return impl->tx.front().atUs;
}

std::optional<uint64_t> CSimScanner::NextEventAtUs() const
{
    std::optional<uint64_t> next;
    if (!impl->usbEvents.empty())
        next = impl->usbEvents.front().atUs;
    if (impl->restart)
        next = next ? std::min(*next, impl->restart->endUs) : impl->restart->endUs;
    return next;
}

uint64_t CSimScanner::WireTimeUs(size_t bytes, uint32_t baud) const
{
    return impl->WireUs(baud, bytes);
}

void CSimScanner::Advance(uint64_t nowUs)
{
    impl->Advance(nowUs);
}

bool CSimScanner::Attached(uint64_t nowUs) const
{
    const auto& r = impl->restart;
    if (impl->cutAtUs && nowUs >= *impl->cutAtUs)
        return false;
    return !(impl->config.usbCdc && r && nowUs >= r->startUs + kSimUsbDetachUs &&
             nowUs < r->endUs);
}

bool CSimScanner::TakeRemoval(uint64_t nowUs)
{
    auto& events = impl->usbEvents;
    if (events.empty() || events.front().arrival || events.front().atUs > nowUs)
        return false;
    events.pop_front();
    return true;
}

bool CSimScanner::TakeArrival(uint64_t nowUs)
{
    auto& events = impl->usbEvents;
    if (events.empty() || !events.front().arrival || events.front().atUs > nowUs)
        return false;
    events.pop_front();
    return true;
}

void CSimScanner::AddFault(const SimFaultRule& rule)
{
    if (rule.fault != SimFault::None && rule.count > 0)
        impl->rules.push_back(rule);
}

void CSimScanner::ClearFaults()
{
    impl->rules.clear();
}

void CSimScanner::SetExpectedImage(const std::map<uint32_t, std::vector<uint8_t>>& image)
{
    impl->expected.Clear();
    for (const auto& [address, bytes] : image)
        impl->expected.Write(address, bytes.data(), bytes.size());
    impl->hasExpected = !image.empty();
    impl->verdictCache.reset();
}

bool CSimScanner::LoadExpectedModule(const std::string& ldrPath, std::string& error)
{
    ldr::file file;
    try {
        ldr::load(ldrPath, file);
    } catch (const ldr_exception& e) {
        error = e.Text();
        return false;
    }
    const ldr::module* module = ldr::find_module(file, ldr::computational);
    if (!module) {
        error = "no computational module in " + ldrPath;
        return false;
    }
    // In file order: where blocks overlap, the later one wins, as in the scanner. A
    // module without data expects an empty session.
    impl->expected.Clear();
    for (const ldr::block_ref block : module->blocks)
        impl->expected.Write(block.address, block.data.data(), block.data.size());
    impl->hasExpected = true;
    impl->verdictCache.reset();
    return true;
}

bool CSimScanner::HasExpectedImage() const { return impl->hasExpected; }

int CSimScanner::Mode(uint64_t nowUs) const
{
    const auto& r = impl->restart;
    if (r && nowUs >= r->startUs)
        return nowUs < r->endUs ? -1 : r->mode;
    return impl->mode;
}

int CSimScanner::SpeedCode() const { return impl->speedCode; }
uint32_t CSimScanner::Baud() const { return SimBaudFromCode(impl->speedCode); }
const CSimMemory& CSimScanner::Memory() const { return impl->memory; }
const CSimMemory& CSimScanner::Session() const { return impl->session; }

std::vector<uint8_t> CSimScanner::Dump(uint32_t address, size_t size) const
{
    return impl->memory.Read(address, size);
}

std::array<uint8_t, 4> CSimScanner::ModeRegister() const { return impl->Register(); }
const std::vector<std::array<uint8_t, 4>>& CSimScanner::ModeRegisterWrites() const
{
    return impl->registerWrites;
}
bool CSimScanner::ChecksumVerdict() const { return impl->Verdict(); }
const SimConfig& CSimScanner::Config() const { return impl->config; }
SimConfig& CSimScanner::MutableConfig() { return impl->config; }
unsigned CSimScanner::CommandsReceived() const { return impl->commands; }

unsigned CSimScanner::CommandsReceived(uint8_t opcode) const
{
    return impl->commandsByOpcode[opcode];
}

unsigned CSimScanner::Restarts() const { return impl->restarts; }
unsigned CSimScanner::Faults() const { return impl->faults; }
unsigned CSimScanner::WriteFaults() const { return impl->writeFaults; }
