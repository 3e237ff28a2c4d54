// A model of one imaging scanner as seen over its serial line: the packet protocol and
// command set, the mode register and its restarts, line speeds, memory with writes and a
// checksum verdict, device information, USB re-enumeration and injected faults.
//
// The model is driven by time in microseconds given by its caller, so the same model
// serves the in-process line (virtual clock) and the pseudo-terminal program (real clock).
// It is single-threaded and deterministic: the same bytes at the same times with the
// same seed give the same replies.
//
// Behaviour worth knowing when writing tests against it:
// - Speed: bytes sent at a baud other than the scanner's arrive garbled, and so do reply
//   bytes read at a baud other than the one they were sent at. Garbling keeps the byte
//   count and never yields the start byte 0x02, so a garbled request is never answered
//   and a garbled reply never parses. A USB CDC scanner has no line: it ignores bauds.
// - A line limited to maxLineBaud (an adapter that cannot carry the faster speeds)
//   garbles every byte sent above it, both ways. A loader limited to maxSpeedCode
//   refuses a faster speed with status 4 and stays where it is; a scanner limited to
//   highestSpeedTaken acknowledges a faster one and stays where it is.
// - Framing: a request with a bad checksum or LEN 0 is dropped silently; a partial
//   request is abandoned after kSimFrameGapUs without bytes.
// - A baud change is answered at the old speed; the new speed holds once the reply is
//   on the line.
// - A mode switch (bits 0.1 and 1.1 both written as the other mode) is answered, then
//   the scanner is silent for restartMs and runs the new mode (or, with
//   backInOldModeOnce, the old one the first time). The register comes back with only
//   the mode bits set: bits 0.1/1.1 for the mode, 3.7 in the loader (never with
//   neverEntersLoader), 1.0 the checksum verdict (reported by the loader only); bits
//   written besides the read-only ones are stored. A USB CDC scanner's port is gone for
//   the restart from kSimUsbDetachUs after the reply (Attached false, one removal and
//   one arrival event).
// - Faults: transmission faults (noise, checksum, echo, short, long, truncated or lost
//   reply) hit the reply of a command that was carried out; Busy, NoReply and
//   ErrorStatus leave the command undone. A cut line sends half the reply, then the
//   scanner is detached for good (one removal event, no arrival) on any port. Random
//   faults draw from randomFaultKinds, by default only from the faults the host's
//   retries are meant to absorb.
// - Memory writes (loader only, else 115): empty or over 248 bytes 144; outside
//   [flashBase, flashBase + flashSize) or touching the factory block 145; an address
//   not a multiple of writeAlign 146; writeErrorStatus when set. Reads of the factory
//   block at 0xFD0000 need the application with bit 0.5 set (else 115); other addresses
//   read what was written, 0xFF elsewhere, in either mode.
// - Checksum verdict (bit 1.0): the loader keeps the image written since it started
//   (the session). With an expected image set, the verdict holds when the session is
//   exactly that image: the same addresses, the same bytes, nothing more. Without one,
//   it holds when something was written and the last write was not refused (a host
//   that retries a refused update writes the whole image again).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_memory.h"

enum class SimFault {
    None,
    NoiseByte,        // one stray byte before the start byte
    TwoNoiseBytes,    // two stray bytes (the host must give up on that reply)
    BadChecksum,
    WrongEcho,
    Busy,             // status 2 instead of the reply; the command is not carried out
    NoReply,          // the request is lost: nothing is carried out or answered
    LostReply,        // the command is carried out, its reply is lost
    ShortReply,       // one data byte too few
    LongReply,        // one payload byte too many
    ErrorStatus,      // the status given in SimFaultRule::status; not carried out
    TruncatedReply,   // the reply stops halfway; the line stays
    CutLine,          // the reply stops halfway and the port is gone for good (a pull)
};

// Parses a fault name as the pty program's --fault option spells it ("noise",
// "noise2", "checksum", "echo", "busy", "noreply", "lost", "short", "long", "status",
// "truncated", "cut"); SimFault::None when unknown.
SimFault SimFaultFromName(const std::string& name);
// The faults the random mix draws from unless told otherwise: the ones a host's
// retries are meant to absorb (noise, noise2, checksum, echo, truncated, busy, noreply,
// lost).
const std::vector<SimFault>& SimRecoverableFaults();

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

// The factory block lives at this address, 8 bytes: serial LE32, DOS date LE16, word LE16.
constexpr uint32_t kSimFactoryAddress = 0xFD0000;
constexpr uint32_t kSimFactorySize = 8;
// A request whose bytes stop for longer than this is abandoned.
constexpr uint64_t kSimFrameGapUs = 50000;
// A restarting USB scanner drops off the bus this long after its reply, so the host can
// still read the reply to the mode switch.
constexpr uint64_t kSimUsbDetachUs = 10000;
// A cut line's port goes this long after the last byte it carried.
constexpr uint64_t kSimCutAfterUs = 1000;

// Baud of a speed code 0..9 (2400 .. 921600); 0 for any other code.
uint32_t SimBaudFromCode(int code);

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
    int maxSpeedCode = 9;                 // the loader refuses faster codes (status 4)
    int highestSpeedTaken = 9;            // a faster code is acknowledged and not taken
    uint32_t maxLineBaud = 0;             // bytes above this baud arrive garbled; 0: none

    uint32_t restartMs = 1500;            // silent after a mode change
    bool backInOldModeOnce = false;       // the first restart comes back in the old mode
    int restartSpeedCode = -1;            // >= 0: comes back at this speed
    bool neverEntersLoader = false;       // bit 3.7 stays clear
    bool usbCdc = false;                  // re-enumerates on a restart (port vanishes)

    // Bits 2.2-2.7 of the mode register report live status: they read as these bits
    // whatever was written (bits 2.0 and 2.1 are stored as written).
    uint8_t registerStatusBits = 0;

    // Line-rate emulation: every byte takes its time on the wire at the current speed,
    // plus a turnaround per command.
    bool lineRate = false;
    uint32_t turnaroundUs = 0;

    // Memory: writes accepted only inside [flashBase, flashBase + flashSize) and aligned.
    uint32_t flashBase = 0x00000000;
    uint32_t flashSize = 0x01000000;
    uint32_t writeAlign = 1;
    unsigned char writeErrorStatus = 0;   // 144..147: every write answered with it

    // Random faults: probability per reply, seeded for repeatable runs, drawn evenly
    // from these kinds (empty: SimRecoverableFaults).
    double randomFaultRate = 0.0;
    uint32_t randomSeed = 1;
    std::vector<SimFault> randomFaultKinds;
};

class CSimScanner {
public:
    explicit CSimScanner(SimConfig config);
    ~CSimScanner();
    CSimScanner(CSimScanner&&) noexcept;
    CSimScanner& operator=(CSimScanner&&) noexcept;

    // Bytes from the host, sent at the host's line speed (baud), at time nowUs (with
    // line-rate emulation, the time the first byte started).
    void Receive(const uint8_t* data, size_t size, uint32_t hostBaud, uint64_t nowUs);
    // Bytes the scanner has put on the line by nowUs, as a host reading at hostBaud sees
    // them, at most max; returns the count.
    size_t Transmit(uint8_t* out, size_t max, uint32_t hostBaud, uint64_t nowUs);
    // When the next reply byte will be on the line (for a reader deciding how long to
    // wait); nullopt when nothing is pending.
    std::optional<uint64_t> NextByteAtUs() const;
    // When the next restart begins or ends (a reader waiting on a USB port must notice
    // the port vanish); nullopt when none is due.
    std::optional<uint64_t> NextEventAtUs() const;
    // How long bytes take on the wire at a baud: 0 without line-rate emulation.
    uint64_t WireTimeUs(size_t bytes, uint32_t baud) const;
    // Applies what has fallen due by nowUs (speed changes, restarts ending). Every call
    // taking a time does this first; the getters without a time report the state as of
    // the last such call.
    void Advance(uint64_t nowUs);

    // Whether the scanner is powered and attached (a USB scanner that restarts is not).
    bool Attached(uint64_t nowUs) const;
    // For USB re-enumeration: true once per restart when the port has vanished / is back.
    // An arrival is reported only after its removal was taken.
    bool TakeRemoval(uint64_t nowUs);
    bool TakeArrival(uint64_t nowUs);

    void AddFault(const SimFaultRule& rule);
    void ClearFaults();

    // The image the checksum verdict compares the session with (address -> bytes);
    // empty: no expected image.
    void SetExpectedImage(const std::map<uint32_t, std::vector<uint8_t>>& image);
    // The expected image from the first computational module (kind 1) of an .ldr file
    // (UTF-8 path), later blocks winning where blocks overlap; false with a message when
    // the file cannot be read or has no such module.
    bool LoadExpectedModule(const std::string& ldrPath, std::string& error);
    bool HasExpectedImage() const;

    int Mode(uint64_t nowUs) const;          // 0 application, 1 loader; -1 while restarting
    int SpeedCode() const;
    uint32_t Baud() const;
    // Everything written to the scanner's memory, and the part written since the loader
    // last started.
    const CSimMemory& Memory() const;
    const CSimMemory& Session() const;
    // The bytes at [address, address + size), 0xFF where never written.
    std::vector<uint8_t> Dump(uint32_t address, size_t size) const;
    // The register as a read would return it now.
    std::array<uint8_t, 4> ModeRegister() const;
    // Every mode-register write the scanner carried out, the four bytes as sent, in order.
    const std::vector<std::array<uint8_t, 4>>& ModeRegisterWrites() const;
    bool ChecksumVerdict() const;
    const SimConfig& Config() const;
    // For tests that change the unit between commands (speed command, write errors,
    // restart options...). speedCode, startMode and randomSeed are read at construction
    // only.
    SimConfig& MutableConfig();
    unsigned CommandsReceived() const;
    unsigned CommandsReceived(uint8_t opcode) const;
    unsigned Restarts() const;
    // How many replies a fault (injected or drawn) has hit, and of them memory writes'.
    unsigned Faults() const;
    unsigned WriteFaults() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};
