// One port of a shared port system, with a device-change watch of its own.
//
// When several scanners are served at once, each run gets one of these: opening,
// listing and identifying ports go to the shared system, but the watch that follows a
// USB scanner through its restart looks at this port's name only. Another scanner
// vanishing and coming back is no event here, and this port's return is not mistaken
// for some other device's arrival.
#pragma once

#include <memory>
#include <string>

#include "base/host.h"
#include "transport/polled_notifier.h"
#include "transport/port_system.h"

class CSinglePortSystem : public CPortSystem {
public:
    // The host is the one whose pump delivers this port's events (the run's own).
    CSinglePortSystem(CPortSystem& shared, std::string portName, CRunHost& host);

    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override;
    std::vector<std::string> EnumerateSerialPorts() override;
    bool SerialPortExists(const std::string& name) override;
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                          const std::string& pid, std::string& hardwareId) override;
    // A scanner back from its restart under another name is found by its USB device.
    bool PortUsbIdentity(const std::string& name, CUsbIdentity& identity) override
    {
        return shared.PortUsbIdentity(name, identity);
    }
    CDeviceNotifier& Notifier() override { return notifier; }
    CTraceSink* Trace() override { return shared.Trace(); }
    std::vector<std::string> SlowAdapterFiles() override { return shared.SlowAdapterFiles(); }

private:
    // Removal: the port is no longer listed, or its open handle fails (it vanished and
    // came back between two pumps). Arrival: the port is listed again.
    class CPortWatch : public CPolledNotifier {
    public:
        explicit CPortWatch(CSinglePortSystem& system) : system(system) {}

    protected:
        CRunHost& Host() override { return system.host; }
        bool HandleGone(CPortHandle* handle) override;
        void ArmArrivalWatch() override {}
        bool UsbSerialArrived() override;

    private:
        CSinglePortSystem& system;
    };

    CPortSystem& shared;
    std::string portName;
    CRunHost& host;
    CPortWatch notifier;
};
