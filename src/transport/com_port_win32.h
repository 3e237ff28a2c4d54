// A COM port through the Windows serial communications API.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "transport/port_system.h"

class CWin32PortHandle : public CPortHandle {
public:
    explicit CWin32PortHandle(HANDLE port) : handle(port) {}
    ~CWin32PortHandle() override;

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

    HANDLE Native() const { return handle; }

private:
    // Keeps the system's code of a call that failed, and returns it.
    uint32_t Failed();

    HANDLE handle;
    uint32_t lastError = 0;
};

// Opens \\.\name exclusively, without overlapped I/O; returns GetLastError's code.
uint32_t OpenWin32Port(const std::string& name, std::unique_ptr<CPortHandle>& handle);
