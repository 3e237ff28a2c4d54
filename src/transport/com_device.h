// A serial port as a byte device: opened exclusively at 9600 8N1 with no handshaking,
// with baud rate, time-outs and the watch that follows a USB CDC scanner through its
// re-enumeration.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/host.h"
#include "transport/basic_device.h"
#include "transport/port_system.h"

class CComDevice : public CBasicDevice {
public:
    // Opening or configuring the port failed; the message is chosen from the system
    // error code and whether the port was open at the throw.
    class CException : public CBasicDevice::CException, public object_description {
    public:
        CException(uint32_t errorCode, bool wasOpen);
        uint32_t ErrorCode() const { return errorCode; }

    private:
        uint32_t errorCode;
    };

    explicit CComDevice(CPortSystem& system);
    ~CComDevice() override;
    CComDevice(const CComDevice&) = delete;
    CComDevice& operator=(const CComDevice&) = delete;

    bool IsOpen() const override;
    void Write(const void* data, unsigned size) override;
    void WriteByte(unsigned char b) override;
    void Read(void* buffer, unsigned size) override;
    unsigned char ReadByte() override;
    void ReadSome(void* buffer, unsigned* size) override;
    void ClearErrors() override;
    void PurgeInput() override;
    void PurgeOutput() override;
    CTraceSink* Trace() const override { return trace; }
    std::string TraceName() const override { return portName; }

    void Open(const std::string& portName);
    void Close();
    unsigned GetBaudRate();
    void SetBaudRate(unsigned baud);
    unsigned GetTimeout();
    void SetTimeouts(unsigned readInterval, unsigned readTotalMultiplier,
                     unsigned readTotalConstant, unsigned writeTotalMultiplier,
                     unsigned writeTotalConstant);
    void SetTimeout(unsigned ms);
    std::string GetPortName() const { return portName; }
    bool IsUsbCdc() const { return usbCdc; }

    // Reconnect watch: arms the removal watch on the scanner's USB CDC port.
    bool WatchRemoval();
    bool HasArrived() const { return arrived; }
    bool WasRemoved() const { return removed; }
    // Unregisters the removal watch this device armed; the arrival watch as well when
    // arrivalToo (the device is going away, or has given up waiting for the scanner).
    void DropWatch(bool arrivalToo);

    CPortHandle* Handle() const { return handle.get(); }
    CPortSystem& PortSystem() const { return *system; }

private:
    friend void NotificationHandler(int event, CComDevice* device);

    // Which watch of the notifier this device armed and still owns, so that closing the
    // port or destroying the device never leaves a watch pointing at a dead handle or
    // a dead device.
    enum class Watch { None, Removal, Arrival };

    // Writes an event of the port to the trace (only called when there is one).
    void TraceEvent(const std::string& name, const std::string& what) const;

    CPortSystem* system;
    CTraceSink* trace;
    std::unique_ptr<CPortHandle> handle;
    std::string portName;
    std::string watchedName;   // the port a vanished scanner is awaited on
    bool usbCdc = false;
    bool arrived = false;
    bool removed = false;
    Watch watch = Watch::None;
};

// Open, then set the baud rate and the time-out (ms).
void OpenComPort(CComDevice& device, const std::string& portName, unsigned baud,
                 unsigned timeoutMs);

// Saves the port's time-out, sets another, and restores the saved one on every path.
class CTimeoutGuard {
public:
    CTimeoutGuard(CComDevice& device, unsigned ms);
    ~CTimeoutGuard();
    CTimeoutGuard(const CTimeoutGuard&) = delete;
    CTimeoutGuard& operator=(const CTimeoutGuard&) = delete;

private:
    CComDevice& device;
    unsigned saved;
};

// The scanner's USB CDC identity.
constexpr const char* kScannerUsbVid = "0647";
constexpr const char* kScannerUsbPid = "3339";
