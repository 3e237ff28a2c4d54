// The POSIX port system: a port is a terminal device named by its path (a bare name such
// as ttyUSB0 means /dev/ttyUSB0), discovered in sysfs, watched by polling.
#pragma once

#include <sys/types.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "transport/polled_notifier.h"
#include "transport/port_system.h"

// The device path of a port name.
std::string PosixDevicePath(const std::string& name);

// The system error code for an errno value; atOpen tells a failed open (busy, missing)
// from a failure on a port that is already open.
uint32_t PosixErrorCode(int error, bool atOpen);

class CPosixPortHandle : public CPortHandle {
public:
    CPosixPortHandle(int fd, std::string path, dev_t device);
    ~CPosixPortHandle() override;

    uint32_t SetState(const CPortState& state) override;
    uint32_t GetState(CPortState& state) override;
    uint32_t SetupQueues(uint32_t inSize, uint32_t outSize) override;
    uint32_t SetTimeouts(const CPortTimeouts& timeouts) override;
    uint32_t GetTimeouts(CPortTimeouts& timeouts) override;
    uint32_t Read(void* buffer, unsigned size, unsigned* done) override;
    uint32_t Write(const void* data, unsigned size, unsigned* done) override;
    uint32_t Purge(unsigned flags) override;
    uint32_t ClearErrors() override;

    const std::string& Path() const { return path; }
    dev_t Device() const { return device; }
    // Whether the terminal behind the descriptor has hung up (its device is gone).
    bool HungUp() const;

private:
    int fd;
    std::string path;
    dev_t device;
    CPortTimeouts timeouts;
    uint32_t lineFlags = 0;   // the DCB flags last written; a terminal cannot report them
};

// Opens a terminal device exclusively; the error codes are those of PosixErrorCode.
uint32_t OpenPosixPort(const std::string& name, std::unique_ptr<CPortHandle>& handle);

// Serial ports as sysfs describes them, under an injectable root.
class CSysfsPorts {
public:
    explicit CSysfsPorts(std::string sysRoot = "/sys");
    // Device paths (/dev/NAME) of the terminals that have a real device behind them, in
    // natural order (ttyS2 before ttyS10).
    std::vector<std::string> SerialPorts() const;
    // Names of the terminals that belong to a USB device.
    std::set<std::string> UsbSerialTtys() const;
    // The hardware id of the USB device a terminal belongs to, in the form
    // USB\VID_xxxx&PID_xxxx&REV_xxxx (upper case); false when it is not a USB terminal.
    bool UsbHardwareId(const std::string& ttyName, std::string& hardwareId) const;

private:
    std::string UsbDeviceDir(const std::string& ttyName) const;
    std::string ttyClass;
};

// Removal: the watched device node vanished, now names another device, or the terminal
// hung up. Arrival: a USB terminal appeared, or the vanished path came back.
class CPosixNotifier : public CPolledNotifier {
public:
    explicit CPosixNotifier(const CSysfsPorts& ports);

protected:
    CRunHost& Host() override;
    bool HandleGone(CPortHandle* handle) override;
    void ArmArrivalWatch() override;
    bool UsbSerialArrived() override;

private:
    const CSysfsPorts& ports;
    std::string vanishedPath;
    dev_t vanishedDevice = 0;
    bool vanishedPathMissing = false;
    std::set<std::string> knownTtys;
};

class CPosixPortSystem : public CPortSystem {
public:
    explicit CPosixPortSystem(std::string sysRoot = "/sys");

    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override;
    std::vector<std::string> EnumerateSerialPorts() override;
    // A port exists when its device node does: the listed ports, and explicit paths such
    // as a pseudo-terminal or a link to one.
    bool SerialPortExists(const std::string& name) override;
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                          const std::string& pid, std::string& hardwareId) override;
    CDeviceNotifier& Notifier() override { return notifier; }

private:
    CSysfsPorts ports;
    CPosixNotifier notifier;
};
