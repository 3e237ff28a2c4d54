// The scanner's packet protocol: framing, command execution with retries, the command
// wrappers and chunked memory transfers. Results are ints: 0 success, -1 no link,
// -2 wrong reply length, 1..255 the scanner's status byte.
#pragma once

#include <cstdint>

class CBasicDevice;
class CRunHost;

constexpr int RESULT_OK = 0;
constexpr int RESULT_NO_LINK = -1;
constexpr int RESULT_WRONG_LENGTH = -2;
// A request that cannot be sent as asked (more parameter bytes than a packet holds, a
// chunk size no packet can carry, a missing buffer, an unknown transport); nothing is
// sent. StatusText gives it the unknown-error text.
constexpr int RESULT_BAD_REQUEST = -3;
constexpr int STATUS_BUSY = 2;
constexpr int STATUS_INVALID_PARAMS = 4;
constexpr int STATUS_NOT_SUPPORTED = 8;

constexpr int TRANSPORT_SERIAL = 1;

constexpr unsigned char CMD_WRITE_MEMORY = 0x9C;
constexpr unsigned char CMD_READ_MEMORY = 0x9D;
constexpr unsigned char CMD_GET_INFO = 0x9E;
constexpr unsigned char CMD_MODE_REGISTER = 0x9F;
constexpr unsigned char CMD_BAUD_RATE = 0xA1;
constexpr unsigned char CMD_GET_UNIQUE_ID = 0xA2;

constexpr unsigned kMaxParamBytes = 252;
constexpr unsigned kMaxFrameData = kMaxParamBytes + 1;   // the opcode and its parameters
constexpr unsigned kMemoryChunk = 128;
constexpr unsigned kMaxWriteChunk = 248;   // 4 address bytes plus data within the parameters
constexpr unsigned kMaxReadChunk = 254;    // echo, status and payload within 256 reply bytes

using TransferCallback = void (*)(const void* buffer, unsigned done, unsigned total, void* user);

class CScannerProtocol {
public:
    // The host supplies the busy pause and the waits of the procedures built on this.
    explicit CScannerProtocol(CRunHost& host) : host(&host) {}

    void SetDevice(CBasicDevice* d) { device = d; }
    CBasicDevice* GetDevice() const { return device; }
    CRunHost& Host() const { return *host; }

    // One command in up to three attempts. A broken reply, or one to another command,
    // costs its attempt; busy costs one after a pause, and a scanner busy to the end
    // gives STATUS_BUSY; RESULT_NO_LINK when nothing valid came back. Stop, and a device
    // failure that carries a message (a port whose device has gone), are thrown through.
    int Execute(unsigned char opcode, void* reply, unsigned replySize, const void* params,
                unsigned paramSize);
    int ExecuteVia(unsigned char opcode, void* reply, unsigned replySize, const void* params,
                   unsigned paramSize, int transport);

    // Frames 1..kMaxFrameData bytes; any other size throws CBasicDevice::CException
    // before anything is written.
    void SendFrame(const void* data, unsigned size);
    void ReceiveFrame(void* buffer, unsigned* size);

    int ReadMemory(uint32_t address, void* buffer, unsigned size, TransferCallback callback,
                   void* user, unsigned chunkSize);
    int WriteMemory(uint32_t address, const void* buffer, unsigned size,
                    TransferCallback callback, void* user, unsigned chunkSize);

    // Command wrappers (the reply layouts are in the command table).
    int GetInfo(unsigned char reply[5], int identity);
    int ReadModeRegister(unsigned char reg[4]);
    int WriteModeRegister(const unsigned char reg[4]);
    int ReadSpeedCode(unsigned char* code);
    int WriteSpeedCode(unsigned char code);
    int GetUniqueId(unsigned char id[16], int transport);

private:
    // Traces a received frame: raw holds size bytes, the frame's data from dataAt (0: no
    // length byte was read); note says why it is incomplete, null for a good frame.
    void TraceReceived(const unsigned char* raw, unsigned size, unsigned dataAt,
                       const char* note) const;

    CBasicDevice* device = nullptr;
    CRunHost* host;
};

// The command's name in a trace ("write-memory"); "unknown" for an opcode not in the set.
const char* CommandName(unsigned char opcode);

const char* StatusText(int code);

// Throws test_exception "(code) text", carrying the code, for a non-zero result code.
void CheckResult(int code);
