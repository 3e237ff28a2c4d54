// The simulator's end of its line: a pseudo-terminal it makes (the host opens the slave as
// its serial port, the simulator reads and writes the master and sees the line settings
// the host made), or an existing terminal (a USB gadget's serial function, a host pty
// behind a virtual machine's UART).
#pragma once

#include <cstdint>
#include <string>

class CSimLine {
public:
    virtual ~CSimLine() = default;
    // Makes the line present (for a USB scanner: on the bus); false with a message.
    virtual bool Open(std::string& error) = 0;
    // Takes it away (for a USB scanner: off the bus).
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // The descriptor the simulator reads and writes; -1 while closed.
    virtual int Fd() const = 0;
    // What the host opens.
    virtual const std::string& HostPath() const = 0;
    // The baud rate the host's side of the line runs at; 0 when it cannot be told.
    virtual uint32_t HostBaud() const = 0;
    // The descriptor hung up while the line should be there (the device was pulled from
    // outside): let it go and look for the terminal again at Idle.
    virtual void HungUp() {}
    virtual void Idle() {}
};

// Raw 8N1 at 9600 without echo or any translation, like a serial port opened for binary use.
bool MakeRawLine(int fd);

class CSimPty : public CSimLine {
public:
    CSimPty() = default;
    ~CSimPty() override { Close(); }
    CSimPty(const CSimPty&) = delete;
    CSimPty& operator=(const CSimPty&) = delete;

    // Creates a raw 8N1 pty at 9600 baud; false with a message on failure. The slave stays
    // open here as well: without any open slave, reads on the master fail with EIO while
    // no host has the port open.
    bool Open(std::string& error) override;
    void Close() override;
    bool IsOpen() const override { return master >= 0; }

    int Fd() const override { return master; }
    const std::string& HostPath() const override { return slavePath; }
    // The baud rate the host has set on its side (master and slave share one termios);
    // any rate, not only the standard ones; 0 when it cannot be read.
    uint32_t HostBaud() const override;

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
