// The simulator as a third port backend: a CPortSystem whose ports are simulated lines
// with a baud rate and time-outs on a CVirtualHost's clock. A read on a silent line
// advances the virtual clock by its time-out, so a speed search costs nothing in a test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_scanner.h"
#include "sim/virtual_host.h"
#include "transport/port_system.h"

class CSimPortSystem : public CPortSystem {
public:
    explicit CSimPortSystem(CVirtualHost& host);
    ~CSimPortSystem() override;

    // A port with a scanner behind it; the reference stays valid while the system lives.
    CSimScanner& AddScanner(const std::string& portName, SimConfig config = {});
    // A port with nothing attached (reads time out).
    void AddSilentPort(const std::string& portName);
    // Marks a port as held by another program (open gives access denied).
    void SetBusy(const std::string& portName, bool busy);
    // Bytes the host wrote on a port, in order (for tests that check frames).
    const std::vector<uint8_t>& Sent(const std::string& portName) const;
    // How many times a port was opened.
    unsigned OpenCount(const std::string& portName) const;

    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override;
    std::vector<std::string> EnumerateSerialPorts() override;
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                          const std::string& pid, std::string& hardwareId) override;
    CDeviceNotifier& Notifier() override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
