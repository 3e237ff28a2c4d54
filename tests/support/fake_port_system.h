// A recording port system for the serial-device tests: every call on the port is logged,
// and any call can be made to fail with a chosen system error code.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sim/virtual_host.h"
#include "transport/polled_notifier.h"
#include "transport/port_system.h"

struct FakePortLog {
    std::vector<std::string> calls;        // "open COM3", "setstate", "close", ...
    std::vector<CPortState> statesWritten;
    CPortState state;                       // what GetState returns (last written)
    CPortTimeouts timeouts;
    std::vector<uint8_t> input;             // bytes a read delivers
    std::vector<uint8_t> written;
    std::map<std::string, uint32_t> failures;  // call name -> error code
    bool gone = false;                      // the port's device vanished
    // A driver that ends an empty read at once instead of after its time-outs.
    bool instantEmptyReads = false;
    unsigned openHandles = 0;

    uint32_t Fail(const char* call)
    {
        calls.push_back(call);
        auto it = failures.find(call);
        return it == failures.end() ? kErrorSuccess : it->second;
    }
};

// An empty read waits out its time-out on the clock, when there is one, as a port does.
class FakePortHandle : public CPortHandle {
public:
    explicit FakePortHandle(FakePortLog& portLog, CVirtualHost* clock = nullptr)
        : log(portLog), clock(clock)
    {
        ++log.openHandles;
    }
    ~FakePortHandle() override
    {
        --log.openHandles;
        log.calls.push_back("close");
    }
    uint32_t SetState(const CPortState& s) override
    {
        if (uint32_t e = log.Fail("setstate"))
            return e;
        // As strict as the drivers and the DCB's documentation: equal XON/XOFF
        // characters, and a line that is not binary, are refused.
        if (s.xonChar == s.xoffChar || (s.flags & kPortFlagBinary) == 0)
            return kErrorInvalidParameter;
        log.statesWritten.push_back(s);
        log.state = s;
        return 0;
    }
    uint32_t GetState(CPortState& s) override
    {
        s = log.state;
        return log.Fail("getstate");
    }
    uint32_t SetupQueues(uint32_t in, uint32_t out) override
    {
        return log.Fail(("queues " + std::to_string(in) + "/" + std::to_string(out)).c_str());
    }
    uint32_t SetTimeouts(const CPortTimeouts& t) override
    {
        if (uint32_t e = log.Fail("settimeouts"))
            return e;
        log.timeouts = t;
        return 0;
    }
    uint32_t GetTimeouts(CPortTimeouts& t) override
    {
        t = log.timeouts;
        return log.Fail("gettimeouts");
    }
    uint32_t Read(void* buffer, unsigned size, unsigned* done) override
    {
        *done = 0;
        if (uint32_t e = log.Fail("read"))
            return e;
        while (*done < size && !log.input.empty()) {
            static_cast<uint8_t*>(buffer)[(*done)++] = log.input.front();
            log.input.erase(log.input.begin());
        }
        if (*done == 0 && clock && !log.instantEmptyReads)
            clock->Sleep(log.timeouts.readTotalConstant);
        return 0;
    }
    uint32_t Write(const void* data, unsigned size, unsigned* done) override
    {
        *done = 0;
        if (uint32_t e = log.Fail("write"))
            return e;
        auto it = log.failures.find("short write");
        *done = it == log.failures.end() ? size : size - 1;
        log.written.insert(log.written.end(), static_cast<const uint8_t*>(data),
                           static_cast<const uint8_t*>(data) + *done);
        return 0;
    }
    uint32_t Purge(unsigned flags) override
    {
        return log.Fail(("purge " + std::to_string(flags)).c_str());
    }
    uint32_t ClearErrors() override { return log.Fail("clear"); }

private:
    FakePortLog& log;
    CVirtualHost* clock;
};

// Watches driven by the test: a handle is gone when its log says so; an arrival is
// announced by setting usbArrived.
class FakeNotifier : public CPolledNotifier {
public:
    explicit FakeNotifier(CRunHost& runHost) : host(runHost) {}
    std::map<CPortHandle*, FakePortLog*> handles;
    bool usbArrived = false;
    unsigned arrivalArms = 0;

protected:
    CRunHost& Host() override { return host; }
    bool HandleGone(CPortHandle* handle) override
    {
        auto it = handles.find(handle);
        return it != handles.end() && it->second->gone;
    }
    void ArmArrivalWatch() override
    {
        ++arrivalArms;
        usbArrived = false;
    }
    bool UsbSerialArrived() override { return usbArrived; }

private:
    CRunHost& host;
};

class FakePortSystem : public CPortSystem {
public:
    FakePortSystem() : notifier(host) {}

    CVirtualHost host;
    FakeNotifier notifier;
    std::map<std::string, FakePortLog> ports;   // port name -> its line
    std::map<std::string, uint32_t> openErrors;
    std::map<std::string, unsigned> refusedOpens;   // opens refused with 5 before one works
    std::vector<std::string> listed;
    std::vector<std::string> usbPorts;
    std::vector<std::string> calls;

    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override
    {
        calls.push_back("open " + name);
        auto error = openErrors.find(name);
        if (error != openErrors.end())
            return error->second;
        if (refusedOpens[name] != 0) {
            --refusedOpens[name];
            return kErrorAccessDenied;
        }
        FakePortLog& log = ports[name];
        log.calls.push_back("open");
        auto* opened = new FakePortHandle(log, &host);
        handle.reset(opened);
        notifier.handles[opened] = &log;
        return 0;
    }
    std::vector<std::string> EnumerateSerialPorts() override { return listed; }
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                          const std::string& pid, std::string& hardwareId) override
    {
        calls.push_back("usb " + name + " " + vid + " " + pid);
        for (const std::string& p : usbPorts)
            if (p == name) {
                hardwareId = "USB\\VID_" + vid + "&PID_" + pid;
                return true;
            }
        return false;
    }
    CDeviceNotifier& Notifier() override { return notifier; }
};
