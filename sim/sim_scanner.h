// A model of one imaging scanner as seen over its serial line: the packet protocol and
// command set, the mode register and its restarts, line speeds, memory with writes and a
// checksum verdict, device information, USB re-enumeration and injected faults.
//
// The model is driven by time in microseconds given by its caller, so the same model
// serves the in-process line (virtual clock) and the pseudo-terminal program (real clock).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

enum class SimFault {
    None,
    NoiseByte,        // one stray byte before the start byte
    TwoNoiseBytes,    // two stray bytes (the host must give up on that reply)
    BadChecksum,
    WrongEcho,
    Busy,             // status 2 instead of the reply
    NoReply,
    ShortReply,       // one payload byte too few
    LongReply,        // one payload byte too many
    ErrorStatus,      // the status given in SimFaultRule::status
};

struct SimFaultRule {
    int opcode = -1;          // -1: any command
    SimFault fault = SimFault::None;
    unsigned count = 1;       // how many replies it affects
    unsigned char status = 0; // for ErrorStatus
};

struct SimVersions {
    uint16_t hardware = 0x0100;
    uint16_t loader = 0x0102;
    uint16_t application = 0x0205;
    uint16_t applicationExt = 0x0007;   // Blackfin only
};

struct SimConfig {
    uint8_t modelCode = 150;
    uint32_t serialNumber = 1234567;
    uint16_t productionDate = (uint16_t)(((2024 - 1980) << 9) | (3 << 5) | 15);  // DOS date
    uint16_t factoryWord = 0;
    std::array<uint8_t, 16> uniqueId{{0x51, 0x5a, 0x54, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}};
    SimVersions atmega{0x0100, 0x0101, 0x0203, 0};
    SimVersions blackfin{0x0200, 0x0104, 0x0306, 0x0011};

    int speedCode = 2;                    // the scanner's own line speed
    bool speedCommand = true;             // false: CMD_BAUD_RATE answers 8
    int startMode = 0;                    // 0 application, 1 loader

    uint32_t restartMs = 1500;            // silent after a mode change
    bool backInOldModeOnce = false;       // the first restart comes back in the old mode
    int restartSpeedCode = -1;            // >= 0: comes back at this speed
    bool neverEntersLoader = false;       // bit 3.7 stays clear
    bool usbCdc = false;                  // re-enumerates on a restart (port vanishes)

    // Line-rate emulation: every byte takes its time on the wire at the current speed,
    // plus a turnaround per command.
    bool lineRate = false;
    uint32_t turnaroundUs = 0;

    // Memory: writes accepted only inside [flashBase, flashBase + flashSize) and aligned.
    uint32_t flashBase = 0x00000000;
    uint32_t flashSize = 0x01000000;
    uint32_t writeAlign = 1;
    unsigned char writeErrorStatus = 0;   // 144..147: every write answered with it

    // The checksum verdict (mode register bit 1.0) is set when the image written since
    // the loader started equals this image (address -> bytes); empty: any complete write
    // of a block-aligned image counts as good.
    std::map<uint32_t, std::vector<uint8_t>> expectedImage;

    // Random faults: probability per reply, seeded for repeatable runs.
    double randomFaultRate = 0.0;
    uint32_t randomSeed = 1;
};

class CSimScanner {
public:
    explicit CSimScanner(SimConfig config);

    // Bytes from the host, sent at the host's line speed (baud), at time nowUs.
    void Receive(const uint8_t* data, size_t size, uint32_t hostBaud, uint64_t nowUs);
    // Bytes the scanner has put on the line by nowUs, at most max; returns the count.
    size_t Transmit(uint8_t* out, size_t max, uint64_t nowUs);
    // When the next reply byte will be on the line (for a reader deciding how long to
    // wait); nullopt when nothing is pending.
    std::optional<uint64_t> NextByteAtUs() const;

    // Whether the scanner is powered and attached (a USB scanner that restarts is not).
    bool Attached(uint64_t nowUs) const;
    // For USB re-enumeration: true once per restart when the port has vanished / is back.
    bool TakeRemoval(uint64_t nowUs);
    bool TakeArrival(uint64_t nowUs);

    void AddFault(const SimFaultRule& rule);
    void ClearFaults();

    int Mode(uint64_t nowUs) const;          // 0 application, 1 loader; -1 while restarting
    int SpeedCode() const;
    uint32_t Baud() const;
    const std::map<uint32_t, uint8_t>& Memory() const;
    // The bytes written at [address, address + size), 0xFF where never written.
    std::vector<uint8_t> Dump(uint32_t address, size_t size) const;
    std::array<uint8_t, 4> ModeRegister() const;
    const SimConfig& Config() const;
    SimConfig& MutableConfig();
    unsigned CommandsReceived() const;
    unsigned CommandsReceived(uint8_t opcode) const;
    unsigned Restarts() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl;
};
