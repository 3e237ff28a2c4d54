// The seam between the serial-port logic and a platform: how a port is opened and
// configured, which ports exist, and how device changes are reported.
//
// Three systems implement it: Win32 (COM ports), POSIX (termios devices) and the
// in-process simulator. Failures are reported as Windows system error codes, which the
// POSIX system maps its errno values onto (see kError... below); 0 means success.
// Failures Windows has no code for use the range it leaves to applications (bit 29 set).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;     // no such port
constexpr uint32_t kErrorAccessDenied = 5;     // port busy at open, or access blocked later
constexpr uint32_t kErrorInvalidHandle = 6;    // call on a port that is not open
constexpr uint32_t kErrorNotReady = 21;        // the device is not ready (not connected)
constexpr uint32_t kErrorBadCommand = 22;      // the device does not take the request
constexpr uint32_t kErrorGenFailure = 31;      // a device attached to the system is not functioning
constexpr uint32_t kErrorInvalidParameter = 87; // line settings the driver refuses
constexpr uint32_t kErrorInvalidName = 123;    // empty or malformed port name
constexpr uint32_t kErrorNameTooLong = 206;    // a port name longer than any path
constexpr uint32_t kErrorOperationAborted = 995;     // the request was cancelled under it
constexpr uint32_t kErrorDeviceNotConnected = 1167;  // the device has gone
constexpr uint32_t kErrorDeviceRemoved = 1617;       // the device has been removed
constexpr uint32_t kErrorNotSerialPort = 0x20000001;  // the name is another device or a folder
constexpr uint32_t kErrorPortFailure = 0x20000002;    // the device failed
constexpr uint32_t kErrorSpeedNotTaken = 0x20000003;  // the driver kept another speed

// Whether a failed read, write, purge or clear on an open port means that its device
// has gone (a USB scanner or adapter pulled). USB serial drivers fail every request
// with one of these once their device is removed, each driver with its own.
bool IsRemovalError(uint32_t code);
// The errors that say so whatever the call (a configuration call too): the others are
// also what a port that is still there may answer to a configuration it refuses.
bool IsUnambiguousRemovalError(uint32_t code);

// Whether two port names name the same port: without regard to case on Windows, whose
// device names ignore it; exactly on POSIX, whose paths do not.
bool SamePortName(const std::string& a, const std::string& b);

// XON and XOFF as drivers expect them: they refuse equal characters even while software
// flow control is off.
constexpr uint8_t kXonChar = 0x11;
constexpr uint8_t kXoffChar = 0x13;

// The DCB's fBinary, the first of its flag bits: Windows supports binary transfers only,
// and the DCB's documentation says it must be set.
constexpr uint32_t kPortFlagBinary = 1u << 0;

// Line settings, the part of a DCB the program uses.
struct CPortState {
    uint32_t baudRate = 9600;
    uint8_t byteSize = 8;
    uint8_t parity = 0;       // NOPARITY
    uint8_t stopBits = 0;     // ONESTOPBIT
    // Every handshake and special-character flag of the DCB in the order of its bit
    // fields; binary with everything else off is the only value the program writes.
    // Kept so that a baud change writes them back as read.
    uint32_t flags = kPortFlagBinary;
    uint8_t xonChar = kXonChar;
    uint8_t xoffChar = kXoffChar;
};

// The five COMMTIMEOUTS values, in ms.
struct CPortTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

constexpr unsigned kPurgeTxAbort = 0x01;
constexpr unsigned kPurgeRxAbort = 0x02;
constexpr unsigned kPurgeTxClear = 0x04;
constexpr unsigned kPurgeRxClear = 0x08;

// One open port. Every call returns 0 or a system error code.
class CPortHandle {
public:
    virtual ~CPortHandle() = default;
    virtual uint32_t SetState(const CPortState& state) = 0;
    virtual uint32_t GetState(CPortState& state) = 0;
    virtual uint32_t SetupQueues(uint32_t inSize, uint32_t outSize) = 0;
    virtual uint32_t SetTimeouts(const CPortTimeouts& timeouts) = 0;
    virtual uint32_t GetTimeouts(CPortTimeouts& timeouts) = 0;
    // Reads up to size bytes within the time-outs; *done receives the count (a time-out
    // is not an error: it returns 0 with fewer bytes).
    virtual uint32_t Read(void* buffer, unsigned size, unsigned* done) = 0;
    virtual uint32_t Write(const void* data, unsigned size, unsigned* done) = 0;
    virtual uint32_t Purge(unsigned flags) = 0;
    virtual uint32_t ClearErrors() = 0;
    // The system's own number and meaning of the last call that failed, for the trace
    // ("errno 5, Input/output error"); empty when the port has none to give.
    virtual std::string LastErrorText() const { return {}; }
};

// The USB device behind a port, as far as the system tells it: what a scanner keeps when
// it comes back from a restart under another port name.
struct CUsbIdentity {
    std::string vendorId;    // four hex digits, upper case
    std::string productId;
    std::string serial;      // the device's serial string; empty when it has none
    std::string location;    // where it sits on the bus (sysfs: 1-1.2; Windows: its location path)
};

// The same device: the same vendor, product and serial string, or the same place on the
// bus (a loader may present another product id, or no serial string).
bool SameUsbDevice(const CUsbIdentity& a, const CUsbIdentity& b);

class CDeviceNotifier;
class CTraceSink;

class CPortSystem {
public:
    virtual ~CPortSystem() = default;
    // Opens a port by its name (COM3; on POSIX a device path, a bare name meaning /dev/NAME)
    // exclusively; on failure returns the error code and leaves handle empty.
    virtual uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) = 0;
    // Port names in the system's order, without duplicates.
    virtual std::vector<std::string> EnumerateSerialPorts() = 0;
    // Whether the port exists now; by default, whether it is listed.
    virtual bool SerialPortExists(const std::string& name);
    // Whether the port belongs to the USB device vid/pid; hardwareId receives its id.
    virtual bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                                  const std::string& pid, std::string& hardwareId) = 0;
    // The USB identity of a port that belongs to a USB device; false for any other port.
    virtual bool PortUsbIdentity(const std::string& name, CUsbIdentity& identity) { return false; }
    virtual CDeviceNotifier& Notifier() = 0;
    // Where the devices on this system's ports report their events and frames; null when
    // nothing is traced.
    virtual CTraceSink* Trace() { return nullptr; }
    // The files of adapters whose latency timer stayed above 1 ms on a port opened
    // through this system and could not be lowered (the operator may lower it).
    virtual std::vector<std::string> SlowAdapterFiles() { return {}; }
};

// Another system with a trace: everything goes to the system it wraps.
class CTracedPortSystem : public CPortSystem {
public:
    CTracedPortSystem(CPortSystem& inner, CTraceSink& sink) : inner(inner), sink(sink) {}

    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override
    {
        return inner.OpenPort(name, handle);
    }
    std::vector<std::string> EnumerateSerialPorts() override { return inner.EnumerateSerialPorts(); }
    bool SerialPortExists(const std::string& name) override { return inner.SerialPortExists(name); }
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid, const std::string& pid,
                          std::string& hardwareId) override
    {
        return inner.IsCurrentPortUsb(name, vid, pid, hardwareId);
    }
    bool PortUsbIdentity(const std::string& name, CUsbIdentity& identity) override
    {
        return inner.PortUsbIdentity(name, identity);
    }
    CDeviceNotifier& Notifier() override { return inner.Notifier(); }
    CTraceSink* Trace() override { return &sink; }
    std::vector<std::string> SlowAdapterFiles() override { return inner.SlowAdapterFiles(); }

private:
    CPortSystem& inner;
    CTraceSink& sink;
};

// The listed port whose USB device is the one identified; empty when none is.
std::string FindPortOfUsbDevice(CPortSystem& system, const CUsbIdentity& identity);

// The system of the platform the program runs on (Win32 or POSIX).
CPortSystem& NativePortSystem();
