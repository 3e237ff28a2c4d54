// A serial port as a byte device: opened exclusively at 9600 8N1 with no handshaking,
// with baud rate, reply time-out and the watch that follows a USB CDC scanner through its
// re-enumeration.
//
// Every wait on the line is cut into slices of at most kPortSliceMs, and the device's
// host pumps between them (at least every kPumpIntervalMs), so a Stop reaches a read
// or write in progress whatever the reply time-out: PumpMessages throws stop_exception
// out of the read. The reply time-out bounds the wait for the first byte of a reply;
// the bytes after it must follow within their time on the line plus kFrameMarginMs.
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
        // The driver took the line settings but kept another speed than baud.
        static CException SpeedNotTaken(unsigned baud);
        uint32_t ErrorCode() const { return errorCode; }

    protected:
        CException(uint32_t errorCode, std::string text);

    private:
        uint32_t errorCode;
    };

    // The port's device went away while the port was open (a USB scanner or adapter
    // pulled, or "safely removed"): every later request would fail the same way, so the
    // failure is final and names the port. The protocol lets it through its retries.
    class CDisconnected : public CException {
    public:
        CDisconnected(uint32_t errorCode, const std::string& portName);
    };

    // The host's clock times the waits, and its pump runs while they last.
    CComDevice(CPortSystem& system, CRunHost& host);
    ~CComDevice() override;
    CComDevice(const CComDevice&) = delete;
    CComDevice& operator=(const CComDevice&) = delete;

    bool IsOpen() const override;
    void Write(const void* data, unsigned size) override;
    void WriteByte(unsigned char b) override;
    void Read(void* buffer, unsigned size) override;
    unsigned char ReadByte() override;
    void ReadRest(void* buffer, unsigned size) override;
    void ReadSome(void* buffer, unsigned* size) override;
    void Drain() override;
    void ClearErrors() override;
    void PurgeInput() override;
    void PurgeOutput() override;
    CTraceSink* Trace() const override { return trace; }
    std::string TraceName() const override { return portName; }

    void Open(const std::string& portName);
    void Close();
    unsigned GetBaudRate();
    // Sets the speed and reads it back: a speed the driver did not take (some keep the
    // old one without an error) throws SpeedNotTaken, with the port at its old speed.
    void SetBaudRate(unsigned baud);
    // Whether the driver takes this speed on this port; the port stays at its speed.
    bool CanMakeSpeed(unsigned baud);
    // The reply time-out (ms): how long a read waits for the first byte of a reply, and
    // a write for the line to take its bytes. Kept by the device; the port itself only
    // ever waits one slice at a time.
    unsigned GetTimeout();
    void SetTimeout(unsigned ms);
    std::string GetPortName() const { return portName; }
    bool IsUsbCdc() const { return usbCdc; }

    // Reconnect watch: arms the removal watch on the scanner's USB CDC port, and the
    // arrival watch with it, so that a scanner back before its removal was taken is not
    // missed. Clears the arrived and removed flags.
    bool WatchRemoval();
    bool HasArrived() const { return arrived; }
    bool WasRemoved() const { return removed; }
    // Unregisters the removal watch this device armed; the arrival watch as well when
    // arrivalToo (the device is going away, or has given up waiting for the scanner).
    void DropWatch(bool arrivalToo);
    // Arms the removal watch on every port this device opens, for as long as it is open,
    // where the notifier can watch it: a pulled port, or one Windows asks to release
    // ("safely remove"), is closed at once, and the next request fails as disconnected
    // instead of waiting out its time-outs. Only for a device used on the thread that
    // pumps its host (the notifier's events are delivered there).
    void WatchWhileOpen(bool on) { watchWhileOpen = on; }

    CPortHandle* Handle() const { return handle.get(); }
    CPortSystem& PortSystem() const { return *system; }
    CRunHost& Host() const { return *host; }

private:
    friend void NotificationHandler(int event, CComDevice* device);

    // Writes an event of the port to the trace (only called when there is one).
    void TraceEvent(const std::string& name, const std::string& what) const;
    // A failed request with the system's number and meaning of its error.
    void TraceFailure(const char* what, uint32_t error) const;

    // Opens the port, retrying a refusal for a while: USB serial drivers release a port
    // some time after it was closed.
    uint32_t OpenRetryingRefusal(const std::string& name, std::unique_ptr<CPortHandle>& opened);
    bool ArmRemovalWatch();
    void DropArrivalWatch();

    // The open port; throws CBasicDevice::CException when there is none, CDisconnected
    // when a removal closed it while the host pumped.
    CPortHandle& Port();
    // The port for a configuration call: CException as for a call on an invalid handle
    // when there is none.
    CPortHandle& ConfiguredPort();
    // Throws for a failed read, write, purge or clear: CDisconnected when the error says
    // the device has gone, else CBasicDevice::CException (the attempt is lost).
    void CheckIo(uint32_t error);
    // Throws for a failed configuration call: CDisconnected when the device has gone,
    // else the message of the error code.
    void CheckConfig(uint32_t error);
    // The failure of a port whose device has gone, traced with the system's words.
    CDisconnected Disconnected(uint32_t error);
    // Makes the port's next read wait at most ms for its first byte.
    void SetPortWait(uint32_t ms);
    // Reads into out until size bytes are in or limitMs has passed, pumping the host
    // while it waits; with untilAny it returns as soon as some bytes are in. Returns the
    // count; throws CBasicDevice::CException when the read itself fails.
    unsigned Collect(uint8_t* out, unsigned size, uint32_t limitMs, bool untilAny);
    // How long count bytes take on the line at the port's speed, in ms (rounded up).
    uint32_t LineTimeMs(unsigned count) const;

    CPortSystem* system;
    CRunHost* host;
    CTraceSink* trace;
    std::unique_ptr<CPortHandle> handle;
    std::string portName;
    std::string watchedName;   // the port a vanished scanner is awaited on
    unsigned timeoutMs;           // the reply time-out
    unsigned lineBaud = 9600;     // the speed last set, for the bytes' own time
    uint32_t portWaitMs = 0;      // the wait the port's time-outs now give a read
    bool usbCdc = false;
    bool arrived = false;
    bool removed = false;
    bool lostPort = false;        // a removal closed the port; the next request is told so
    bool watchWhileOpen = false;
    // The watches of the notifier this device armed and still owns, so that closing the
    // port or destroying the device never leaves a watch pointing at a dead handle or a
    // dead device.
    bool watchingRemoval = false;
    bool watchingArrival = false;
};

// The waits of the line (ms).
constexpr uint32_t kPortSliceMs = 50;       // the longest a single read or write of the port waits
constexpr uint32_t kPumpIntervalMs = 50;    // the longest a wait goes without pumping the host
// What the later bytes of a reply may lag behind their time on the line: a USB adapter's
// latency timer (16 ms by default) and the scanner's own pauses between bytes.
constexpr uint32_t kFrameMarginMs = 30;
// A broken reply's rest is drained until the line has been quiet this long (at least; a
// slow line needs a few character times more).
constexpr uint32_t kDrainQuietMs = 10;
constexpr unsigned kDrainQuietChars = 4;
// A read that a driver ends empty before the wait it was given (some return at once)
// is tried again after this pause rather than at once, and the wait runs on the clock.
constexpr uint32_t kEmptyReadPauseMs = 2;
// How long an open refused with access denied is tried again: drivers of USB serial
// adapters release a port late after it was closed.
constexpr uint32_t kRefusedOpenRetryMs = 1000;
constexpr uint32_t kRefusedOpenPauseMs = 100;
// A bare open's reply time-out, until the caller sets its own.
constexpr unsigned kDefaultReplyTimeoutMs = 3000;

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
