// A POSIX terminal device as a port: opened exclusively, configured through termios, with
// the time-outs of a Windows port emulated by poll.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "transport/port_system.h"
#include "transport/serial_ports_posix.h"

// The device path of a port name.
std::string PosixDevicePath(const std::string& name);

// Whether the path names a character device (following links); device receives its
// number when not null.
bool IsCharacterDevice(const std::string& path, dev_t* device);

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
    std::string LastErrorText() const override;

    const std::string& Path() const { return path; }
    dev_t Device() const { return device; }
    // Whether the terminal behind the descriptor has hung up (its device is gone).
    bool HungUp() const;
    // Asks the driver to pass short replies on at once (ASYNC_LOW_LATENCY) where it
    // offers that; a terminal that refuses (a pseudo-terminal) stays as it is. The
    // previous flags come back when the handle closes.
    void RequestLowLatency();
    // Keeps the adapter's latency timer file at 1 ms while the handle is open.
    void LowerLatencyTimer(const std::string& timerFile);
    // The latency timer file that could not be lowered below 2 ms; empty if none.
    std::string SlowLatencyTimer() const;

private:
    // Keeps errno of a call that failed and returns its code; a hang-up is the device
    // gone without an errno of its own.
    uint32_t Failed(int error);
    uint32_t HangUp();

    int fd;
    std::string path;
    dev_t device;
    CPortTimeouts timeouts;
    uint32_t lineFlags = 0;   // the DCB flags last written; a terminal cannot report them
    bool lowLatencySet = false;   // this handle turned ASYNC_LOW_LATENCY on
    int lastErrno = 0;
    bool hungUp = false;          // the last failure was a hang-up
    std::unique_ptr<CLatencyTimer> latencyTimer;
};

// Opens a terminal device exclusively; the error codes are those of PosixErrorCode.
uint32_t OpenPosixPort(const std::string& name, std::unique_ptr<CPortHandle>& handle);
