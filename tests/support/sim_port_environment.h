// One simulated scanner per port for runs that serve several ports side by side, each on a
// virtual clock of its own: a port's thread is the only one that touches its simulator.
#pragma once

#include "engine/multi_port.h"
#include "sim/sim_port_system.h"
#include "sim/virtual_host.h"

struct SimPort {
    CVirtualHost host;
    CSimPortSystem ports{host};
    CSimScanner* scanner = nullptr;
};

// The environment a port's run gets: that port's clock and its simulated line.
class SimEnvironment : public CPortEnvironment {
public:
    explicit SimEnvironment(SimPort& port) : port(port) {}
    CRunHost& Host() override { return port.host; }
    CPortSystem& Ports() override { return port.ports; }

private:
    SimPort& port;
};
