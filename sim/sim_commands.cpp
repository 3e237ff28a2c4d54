// The simulated scanner's command table: device information, the mode register, the
// line speed, the unique identifier and memory reads and writes.
#include "protocol/scanner_protocol.h"
#include "sim/sim_scanner_impl.h"

namespace {

constexpr uint8_t kStatusInvalidParams = 4;
constexpr uint8_t kStatusNotSupported = 8;
constexpr uint8_t kStatusWrongMode = 115;
constexpr uint8_t kStatusBlockSize = 144;
constexpr uint8_t kStatusRange = 145;
constexpr uint8_t kStatusAlignment = 146;

constexpr size_t kMaxWriteData = 248;
constexpr size_t kMaxReadCount = 254;

constexpr uint8_t kModeBit = 0x02;        // bits 0.1 and 1.1
constexpr uint8_t kAtmegaBit = 0x20;      // bit 0.5
constexpr uint8_t kVerdictBit = 0x01;     // bit 1.0
constexpr uint8_t kLoaderActiveBit = 0x80; // bit 3.7
constexpr uint8_t kStoredByte2Bits = 0x03; // bits 2.0 and 2.1

CSimScanner::Impl::Outcome Status(uint8_t status)
{
    CSimScanner::Impl::Outcome outcome;
    outcome.status = status;
    return outcome;
}

void PutWord(std::vector<uint8_t>& out, uint16_t w)
{
    out.push_back(static_cast<uint8_t>(w));
    out.push_back(static_cast<uint8_t>(w >> 8));
}

uint32_t GetLong(const uint8_t* p)
{
    return p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Whether [a, a + n) and [b, b + m) share an address (n, m > 0; no wrap past 2^32).
bool Overlaps(uint64_t a, uint64_t n, uint64_t b, uint64_t m)
{
    return a < b + m && b < a + n;
}

}  // namespace

CSimScanner::Impl::Outcome CSimScanner::Impl::Execute(uint8_t opcode, const uint8_t* params,
                                                      size_t size)
{
    switch (opcode) {
    case CMD_GET_INFO:
        return GetInfo(params, size);
    case CMD_MODE_REGISTER:
        return ModeRegisterCommand(params, size);
    case CMD_BAUD_RATE:
        return BaudRate(params, size);
    case CMD_GET_UNIQUE_ID:
        return UniqueId(params, size);
    case CMD_READ_MEMORY:
        return ReadMemory(params, size);
    case CMD_WRITE_MEMORY:
        return WriteMemory(params, size);
    default:
        return Status(kStatusNotSupported);
    }
}

CSimScanner::Impl::Outcome CSimScanner::Impl::GetInfo(const uint8_t* params, size_t size) const
{
    if (size != 1 || params[0] > 1)
        return Status(kStatusInvalidParams);
    Outcome outcome;
    if (params[0] == 0) {
        PutWord(outcome.payload, 0);
        PutWord(outcome.payload, 0);
        outcome.payload.push_back(config.modelCode);
        return outcome;
    }
    // The versions of the processor bit 0.5 selects, as the running program knows them.
    const SimVersions& v = (stored[0] & kAtmegaBit) ? config.atmega : config.blackfin;
    PutWord(outcome.payload, mode == 1 ? v.loader : v.application);
    PutWord(outcome.payload, mode == 1 ? v.hardware : v.applicationExt);
    outcome.payload.push_back(0);
    return outcome;
}

std::array<uint8_t, 4> CSimScanner::Impl::Register() const
{
    const uint8_t modeBit = mode == 1 ? kModeBit : 0;
    std::array<uint8_t, 4> reg = stored;
    reg[0] = static_cast<uint8_t>((reg[0] & ~kModeBit) | modeBit);
    reg[1] = static_cast<uint8_t>((reg[1] & ~(kModeBit | kVerdictBit)) | modeBit |
                                  (mode == 1 && Verdict() ? kVerdictBit : 0));
    reg[2] = static_cast<uint8_t>((reg[2] & kStoredByte2Bits) |
                                  (config.registerStatusBits & ~kStoredByte2Bits));
    const bool loaderActive = mode == 1 && !config.neverEntersLoader;
    reg[3] = static_cast<uint8_t>((reg[3] & ~kLoaderActiveBit) |
                                  (loaderActive ? kLoaderActiveBit : 0));
    return reg;
}

CSimScanner::Impl::Outcome CSimScanner::Impl::ModeRegisterCommand(const uint8_t* params,
                                                                  size_t size)
{
    Outcome outcome;
    if (size == 0) {
        const auto reg = Register();
        outcome.payload.assign(reg.begin(), reg.end());
        return outcome;
    }
    if (size != 4)
        return Status(kStatusInvalidParams);
    std::copy(params, params + 4, stored.begin());
    registerWrites.push_back(stored);
    const int wanted = (params[0] & kModeBit) ? 1 : 0;
    const bool bothAsk = ((params[1] & kModeBit) ? 1 : 0) == wanted;
    if (bothAsk && wanted != mode)
        outcome.switchToMode = wanted;
    return outcome;
}

CSimScanner::Impl::Outcome CSimScanner::Impl::BaudRate(const uint8_t* params, size_t size) const
{
    if (!config.speedCommand)
        return Status(kStatusNotSupported);
    Outcome outcome;
    if (size == 0) {
        outcome.payload.push_back(static_cast<uint8_t>(speedCode));
        return outcome;
    }
    if (size != 1 || SimBaudFromCode(params[0]) == 0)
        return Status(kStatusInvalidParams);
    if (mode == 1 && params[0] > config.maxSpeedCode)
        return Status(kStatusInvalidParams);
    if (params[0] <= config.highestSpeedTaken)
        outcome.newSpeedCode = params[0];
    return outcome;
}

CSimScanner::Impl::Outcome CSimScanner::Impl::UniqueId(const uint8_t* params, size_t size) const
{
    if (size != 1 || params[0] != 0)
        return Status(kStatusInvalidParams);
    Outcome outcome;
    outcome.payload.assign(config.uniqueId.begin(), config.uniqueId.end());
    return outcome;
}

uint8_t CSimScanner::Impl::FactoryByte(uint32_t offset) const
{
    const uint8_t block[kSimFactorySize] = {
        static_cast<uint8_t>(config.serialNumber),
        static_cast<uint8_t>(config.serialNumber >> 8),
        static_cast<uint8_t>(config.serialNumber >> 16),
        static_cast<uint8_t>(config.serialNumber >> 24),
        static_cast<uint8_t>(config.productionDate),
        static_cast<uint8_t>(config.productionDate >> 8),
        static_cast<uint8_t>(config.factoryWord),
        static_cast<uint8_t>(config.factoryWord >> 8)};
    return block[offset];
}

CSimScanner::Impl::Outcome CSimScanner::Impl::ReadMemory(const uint8_t* params,
                                                         size_t size) const
{
    if (size != 5)
        return Status(kStatusInvalidParams);
    const uint32_t address = GetLong(params);
    const size_t count = params[4];
    if (count == 0 || count > kMaxReadCount)
        return Status(kStatusBlockSize);
    if (uint64_t(address) + count > 0x100000000ull)
        return Status(kStatusRange);
    // The application hands out the factory block only with the ATmega selected.
    if (Overlaps(address, count, kSimFactoryAddress, kSimFactorySize) &&
        (mode != 0 || !(stored[0] & kAtmegaBit)))
        return Status(kStatusWrongMode);
    Outcome outcome;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t a = address + static_cast<uint32_t>(i);
        const bool factory = a >= kSimFactoryAddress && a < kSimFactoryAddress + kSimFactorySize;
        outcome.payload.push_back(factory ? FactoryByte(a - kSimFactoryAddress)
                                          : memory.Read(a));
    }
    return outcome;
}

CSimScanner::Impl::Outcome CSimScanner::Impl::WriteMemory(const uint8_t* params, size_t size)
{
    if (mode != 1)
        return Status(kStatusWrongMode);
    if (size < 4)
        return Status(kStatusInvalidParams);
    const uint32_t address = GetLong(params);
    const size_t count = size - 4;
    uint8_t status = 0;
    if (count == 0 || count > kMaxWriteData)
        status = kStatusBlockSize;
    else if (address < config.flashBase ||
             uint64_t(address) + count > uint64_t(config.flashBase) + config.flashSize ||
             Overlaps(address, count, kSimFactoryAddress, kSimFactorySize))
        status = kStatusRange;
    else if (config.writeAlign > 1 && address % config.writeAlign != 0)
        status = kStatusAlignment;
    else if (config.writeErrorStatus != 0)
        status = config.writeErrorStatus;
    verdictCache.reset();
    if (status != 0) {
        lastWriteRefused = true;
        return Status(status);
    }
    memory.Write(address, params + 4, count);
    session.Write(address, params + 4, count);
    lastWriteRefused = false;
    return Outcome{};
}

bool CSimScanner::Impl::Verdict() const
{
    if (!verdictCache)
        verdictCache = hasExpected ? session == expected
                                   : !lastWriteRefused && !session.Empty();
    return *verdictCache;
}
