// The simulator on a terminal that exists already: a USB gadget's serial function (the
// device's side of a real USB CDC ACM link, /dev/ttyGS0) or the slave of a pty that a
// virtual machine's UART or USB-serial adapter stands behind.
//
// With the gadget's configfs folder, the line is on the bus only while the gadget is bound
// to its USB device controller: Close unbinds it (the host's driver sees a real removal),
// Open binds it again (a real arrival), as a scanner's restart does.
#pragma once

#include "sim/sim_pty_posix.h"

class CSimTty : public CSimLine {
public:
    // gadgetDir empty: a plain terminal, opened and closed without any bus.
    CSimTty(std::string path, std::string gadgetDir);
    ~CSimTty() override;
    CSimTty(const CSimTty&) = delete;
    CSimTty& operator=(const CSimTty&) = delete;

    bool Open(std::string& error) override;
    void Close() override;
    bool IsOpen() const override { return fd >= 0; }
    int Fd() const override { return fd; }
    const std::string& HostPath() const override { return path; }
    // The terminal's own speed: the host's where the two sides share one termios (a pty),
    // the last one set here otherwise (a gadget, where the line has no speed).
    uint32_t HostBaud() const override;
    void HungUp() override;
    void Idle() override;

private:
    bool OpenTerminal(std::string& error);
    // Writes the gadget's UDC attribute; false with a message.
    bool WriteUdc(const std::string& value, std::string& error);

    std::string path;
    std::string gadgetDir;
    std::string udcName;   // the controller the gadget was bound to at start
    int fd = -1;
    bool present = false;  // between Open and Close
};
