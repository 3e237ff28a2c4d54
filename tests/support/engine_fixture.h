// A scanner on a simulated port, a virtual clock, and a protocol on an open CComDevice.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "sim/sim_port_system.h"
#include "sim/virtual_host.h"
#include "transport/com_device.h"

class SimulatedScanner : public testing::Test {
protected:
    static constexpr const char* kPort = "COM3";

    // Adds the scanner and opens the port at the scanner's speed.
    CSimScanner& Attach(SimConfig config = {}, unsigned timeout = 100)
    {
        CSimScanner& scanner = ports.AddScanner(kPort, config);
        OpenComPort(device, kPort, BaudFromCode(config.speedCode), timeout);
        protocol.SetDevice(&device);
        return scanner;
    }

    CVirtualHost host;
    CSimPortSystem ports{host};
    CComDevice device{ports, host};
    CScannerProtocol protocol{host};
};
