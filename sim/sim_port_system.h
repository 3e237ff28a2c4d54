// The simulator as a third port backend: a CPortSystem whose ports are simulated lines
// with a baud rate and time-outs on a CVirtualHost's clock. A read on a silent line
// advances the virtual clock by its time-out, so a speed search costs nothing in a test.
//
// Reads follow the Win32 time-out rules: the total time-out (multiplier x size +
// constant) bounds the whole read, the interval time-out the gap after a byte; interval
// MAXDWORD with zero total returns at once, and with multiplier MAXDWORD it returns as
// soon as a byte is there. A read with no time-out at all gives up after
// kSimUnboundedReadMs of virtual time instead of hanging the test. Writes are complete
// at once (or after their wire time with line-rate emulation).
//
// Ports are opened exclusively (a second open gives error 5, as does a port marked
// busy); names compare without regard to case, as Windows device names do. A USB CDC
// scanner's port vanishes while the scanner restarts, and any port whose line is cut
// vanishes for good: open gives 2, every call on a handle opened before gives the
// port's removal error (5 unless set otherwise, as the USB CDC driver answers), and the
// list leaves it out until it is back. A line state without fBinary is refused (87).
//
// A port can be told to complete reads early, as some USB serial drivers do: a read
// returns as soon as any byte is there, whatever its time-outs ask for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_scanner.h"
#include "sim/virtual_host.h"
#include "transport/port_system.h"

constexpr uint32_t kSimUnboundedReadMs = 60000;

class CSimPortSystem : public CPortSystem {
public:
    explicit CSimPortSystem(CVirtualHost& host);
    // Handles still open afterwards fail every call with error 6.
    ~CSimPortSystem() override;

    // A port with a scanner behind it; the reference stays valid while the system lives.
    CSimScanner& AddScanner(const std::string& portName, SimConfig config = {});
    // A port with nothing attached (reads time out).
    void AddSilentPort(const std::string& portName);
    // Marks a port as held by another program (open gives access denied).
    void SetBusy(const std::string& portName, bool busy);
    // The port's driver takes any speed above highestBaud without an error and keeps the
    // speed it had, as the 8250 driver does above its UART clock's limit.
    void LimitSpeed(const std::string& portName, uint32_t highestBaud);
    // The error every call on an open handle gets once the port has vanished; 0: the
    // calls go on and reads simply time out, as some drivers let them.
    void SetRemovalError(const std::string& portName, uint32_t error);
    void SetEarlyReads(const std::string& portName, bool early);
    // Another USB device arrives (a stick, a mouse): an arrival event with no port behind it.
    void PlugOtherUsbDevice();
    // A USB scanner's port comes back from its next restart as newName, as a system names
    // it while the old name is still taken.
    void ReturnUnderName(const std::string& portName, const std::string& newName);
    // Bytes the host wrote on a port, in order (for tests that check frames).
    const std::vector<uint8_t>& Sent(const std::string& portName) const;
    // How many times a port was opened.
    unsigned OpenCount(const std::string& portName) const;
    // Whether a live handle holds the port now.
    bool Held(const std::string& portName) const;

    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override;
    std::vector<std::string> EnumerateSerialPorts() override;
    // True for a USB CDC scanner's port that is present now; its hardware id is
    // "USB\VID_0647&PID_3339\" followed by the scanner's serial number.
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                          const std::string& pid, std::string& hardwareId) override;
    // A present USB CDC scanner's port: 0647:3339, its serial number as the serial
    // string, and a place of its own on the bus (1-N for the N-th port added).
    bool PortUsbIdentity(const std::string& name, CUsbIdentity& identity) override;
    // A polled notifier on the host: removals and arrivals reach their callbacks only
    // while the host pumps.
    CDeviceNotifier& Notifier() override;

    struct Impl;

private:
    std::shared_ptr<Impl> impl;
};
