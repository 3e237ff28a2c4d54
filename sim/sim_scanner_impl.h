// The simulated scanner's state, shared by the line side (sim_scanner.cpp: framing,
// timing, faults, restarts) and the command table (sim_commands.cpp).
#pragma once

#include <array>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "sim/sim_scanner.h"

struct CSimScanner::Impl {
    explicit Impl(SimConfig c);

    // What a command did, for the line side to frame and to act on after the reply.
    struct Outcome {
        uint8_t status = 0;
        std::vector<uint8_t> payload;
        int newSpeedCode = -1;   // switch to this speed once the reply is on the line
        int switchToMode = -1;   // restart into this mode once the reply is on the line
    };

    // sim_scanner.cpp
    void Advance(uint64_t nowUs);
    void ReceiveByte(uint8_t b, uint64_t atUs);
    void HandleRequest(uint64_t atUs);
    SimFault PickFault(uint8_t opcode, unsigned char& status);
    uint64_t QueueReply(std::vector<uint8_t> data, SimFault fault, uint64_t readyUs);
    void ScheduleRestart(uint64_t startUs, int wantedMode);
    bool Restarting() const { return restart.has_value(); }
    // How long bytes take on the line at baud; 0 without line-rate emulation.
    uint64_t WireUs(uint32_t baud, size_t bytes) const;
    // Whether a byte sent at one baud and read at another arrives garbled: a wrong speed,
    // or a speed the line cannot carry. A USB line has no speed.
    bool Garbles(uint32_t sentBaud, uint32_t readBaud) const;
    void ResetReceiver() { rxState = RxState::Hunt; }

    // sim_commands.cpp
    Outcome Execute(uint8_t opcode, const uint8_t* params, size_t size);
    Outcome GetInfo(const uint8_t* params, size_t size) const;
    Outcome ModeRegisterCommand(const uint8_t* params, size_t size);
    Outcome BaudRate(const uint8_t* params, size_t size) const;
    Outcome UniqueId(const uint8_t* params, size_t size) const;
    Outcome ReadMemory(const uint8_t* params, size_t size) const;
    Outcome WriteMemory(const uint8_t* params, size_t size);
    std::array<uint8_t, 4> Register() const;
    bool Verdict() const;
    uint8_t FactoryByte(uint32_t offset) const;

    SimConfig config;
    int mode;
    int speedCode;
    std::array<uint8_t, 4> stored{};   // register bits as last written
    std::vector<std::array<uint8_t, 4>> registerWrites;   // every register write carried out

    enum class RxState { Hunt, Length, Data, Check };
    RxState rxState = RxState::Hunt;
    std::vector<uint8_t> rxData;
    uint8_t rxLength = 0;
    uint8_t rxChecksum = 0;
    uint64_t rxLastUs = 0;

    struct TxByte {
        uint8_t value;
        uint64_t atUs;     // on the line (readable) from this time
        uint32_t baud;     // the speed it was sent at
    };
    std::deque<TxByte> tx;
    uint64_t lineFreeUs = 0;

    struct PendingSpeed {
        int code;
        uint64_t atUs;
    };
    std::optional<PendingSpeed> pendingSpeed;
    // A restart scheduled or under way: silent from startUs, running mode from endUs.
    struct Restart {
        uint64_t startUs;
        uint64_t endUs;
        int mode;
        int speedCode;   // -1: keeps its speed
    };
    std::optional<Restart> restart;
    bool oldModeOnceDone = false;
    struct UsbEvent {
        bool arrival;
        uint64_t atUs;
    };
    std::deque<UsbEvent> usbEvents;

    std::vector<SimFaultRule> rules;
    std::mt19937 rng;

    CSimMemory memory;
    CSimMemory session;          // written since the loader last started
    bool lastWriteRefused = false; // the session's last write was refused
    CSimMemory expected;
    bool hasExpected = false;
    // Comparing a large session with the expected image is not free; the register is
    // read after every block of an update.
    mutable std::optional<bool> verdictCache;

    unsigned commands = 0;
    std::array<unsigned, 256> commandsByOpcode{};
    unsigned restarts = 0;
    unsigned faults = 0;
    unsigned writeFaults = 0;   // of them, on memory writes
    std::optional<uint64_t> cutAtUs;   // detached for good from then on
};
