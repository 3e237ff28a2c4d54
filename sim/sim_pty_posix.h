// The simulator's end of a pseudo-terminal: the host opens the slave as its serial port,
// the simulator reads and writes the master and sees the line settings the host made.
#pragma once

#include <cstdint>
#include <string>

class CSimPty {
public:
    CSimPty() = default;
    ~CSimPty() { Close(); }
    CSimPty(const CSimPty&) = delete;
    CSimPty& operator=(const CSimPty&) = delete;

    // Creates a raw 8N1 pty at 9600 baud; false with a message on failure. The slave stays
    // open here as well: without any open slave, reads on the master fail with EIO while
    // no host has the port open.
    bool Open(std::string& error);
    void Close();
    bool IsOpen() const { return master >= 0; }

    int Master() const { return master; }
    const std::string& SlavePath() const { return slavePath; }
    // The baud rate the host has set on its side (master and slave share one termios);
    // any rate, not only the standard ones; 0 when it cannot be read.
    uint32_t HostBaud() const;

private:
    bool StartKeeper(std::string& error);

    int master = -1;
    int slave = -1;
    std::string slavePath;
    // A child process whose session owns the slave as its controlling terminal, so that
    // no host process can acquire it (the Wine server opens devices without O_NOCTTY and
    // would take the SIGHUP when the pty goes away). It ends when keeperPipe closes.
    int keeperPid = -1;
    int keeperPipe = -1;
};
