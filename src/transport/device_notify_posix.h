// Device-change notification on POSIX: the polled notifier, told by the device nodes
// and sysfs whether the watched port vanished and whether a USB terminal arrived.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>

#include "transport/polled_notifier.h"
#include "transport/serial_ports_posix.h"

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
