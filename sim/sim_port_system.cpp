#include "sim/sim_port_system.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <stdexcept>

#include "transport/polled_notifier.h"

namespace {

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

class CSimPortHandle;

}  // namespace

struct CSimPortSystem::Impl {
    struct Port {
        std::string name;
        std::unique_ptr<CSimScanner> scanner;   // null: nothing attached
        bool busy = false;
        bool vanished = false;                  // a USB scanner's port is gone for now
        std::string returnName;                 // the name it comes back under, if another
        std::string location;
        uint32_t highestBaud = 0;               // 0: any speed
        unsigned vanishCount = 0;
        uint32_t removalError = kErrorAccessDenied;
        bool earlyReads = false;
        std::vector<uint8_t> sent;
        unsigned opens = 0;
        const CPortHandle* holder = nullptr;
    };

    class Notifier : public CPolledNotifier {
    public:
        explicit Notifier(Impl& system) : sys(system) {}

    protected:
        CRunHost& Host() override { return sys.host; }
        bool HandleGone(CPortHandle* handle) override;
        void ArmArrivalWatch() override { arrivalsAtArm = sys.arrivals; }
        bool UsbSerialArrived() override
        {
            sys.Poll();
            return sys.arrivals > arrivalsAtArm;
        }

    private:
        Impl& sys;
        unsigned arrivalsAtArm = 0;
    };

    explicit Impl(CVirtualHost& h) : host(h), notifier(*this) {}

    Port* Find(const std::string& name)
    {
        for (auto& port : ports) {
            if (SameName(port->name, name))
                return port.get();
        }
        return nullptr;
    }

    Port& Named(const std::string& name)
    {
        if (Port* port = Find(name))
            return *port;
        throw std::invalid_argument("no simulated port " + name);
    }

    const Port& Known(const std::string& name) const
    {
        for (const auto& port : ports) {
            if (SameName(port->name, name))
                return *port;
        }
        throw std::invalid_argument("no simulated port " + name);
    }

    Port& Add(const std::string& name)
    {
        if (Find(name))
            throw std::invalid_argument("simulated port added twice: " + name);
        ports.push_back(std::make_unique<Port>());
        ports.back()->name = name;
        ports.back()->location = "1-" + std::to_string(ports.size());
        return *ports.back();
    }

    // Takes the USB events that have fallen due, one per port per call: a removal and
    // the arrival behind it are seen by two looks, as two device broadcasts would be.
    void Poll()
    {
        const uint64_t now = host.NowUs();
        for (auto& port : ports) {
            if (!port->scanner)
                continue;
            if (port->scanner->TakeRemoval(now)) {
                port->vanished = true;
                ++port->vanishCount;
            } else if (port->scanner->TakeArrival(now)) {
                port->vanished = false;
                if (!port->returnName.empty())
                    port->name = std::move(port->returnName);
                port->returnName.clear();
                ++arrivals;
            }
        }
    }

    CVirtualHost& host;
    std::vector<std::unique_ptr<Port>> ports;
    std::set<const CPortHandle*> handles;
    unsigned arrivals = 0;
    Notifier notifier;
};

namespace {

class CSimPortHandle : public CPortHandle {
public:
    CSimPortHandle(const std::shared_ptr<CSimPortSystem::Impl>& system,
                   CSimPortSystem::Impl::Port& p)
        : sys(system), port(p), epoch(p.vanishCount)
    {
        system->handles.insert(this);
        p.holder = this;
    }

    ~CSimPortHandle() override
    {
        if (auto system = sys.lock()) {
            system->handles.erase(this);
            if (port.holder == this)
                port.holder = nullptr;
        }
    }

    // 0 when the handle can be used; the port's device may have vanished since it was
    // opened, or the whole system may be gone.
    uint32_t Check() const
    {
        auto system = sys.lock();
        if (!system)
            return kErrorInvalidHandle;
        system->Poll();
        return Gone() ? port.removalError : kErrorSuccess;
    }

    bool Gone() const { return port.vanished || port.vanishCount != epoch; }

    uint32_t SetState(const CPortState& s) override
    {
        if (uint32_t e = Check())
            return e;
        if (s.baudRate == 0 || (s.flags & kPortFlagBinary) == 0)
            return kErrorInvalidParameter;
        const uint32_t kept = state.baudRate;
        state = s;
        if (port.highestBaud != 0 && s.baudRate > port.highestBaud)
            state.baudRate = kept;
        return kErrorSuccess;
    }

    uint32_t GetState(CPortState& s) override
    {
        if (uint32_t e = Check())
            return e;
        s = state;
        return kErrorSuccess;
    }

    uint32_t SetupQueues(uint32_t, uint32_t) override { return Check(); }

    uint32_t SetTimeouts(const CPortTimeouts& t) override
    {
        if (uint32_t e = Check())
            return e;
        timeouts = t;
        return kErrorSuccess;
    }

    uint32_t GetTimeouts(CPortTimeouts& t) override
    {
        if (uint32_t e = Check())
            return e;
        t = timeouts;
        return kErrorSuccess;
    }

    uint32_t Read(void* buffer, unsigned size, unsigned* done) override;

    uint32_t Write(const void* data, unsigned size, unsigned* done) override
    {
        *done = 0;
        if (uint32_t e = Check())
            return e;
        auto system = sys.lock();
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        port.sent.insert(port.sent.end(), bytes, bytes + size);
        if (port.scanner) {
            port.scanner->Receive(bytes, size, state.baudRate, system->host.NowUs());
            system->host.AdvanceUs(port.scanner->WireTimeUs(size, state.baudRate));
        }
        *done = size;
        return kErrorSuccess;
    }

    uint32_t Purge(unsigned flags) override
    {
        if (uint32_t e = Check())
            return e;
        // Only what has already arrived is discarded; bytes still on the wire come in.
        if ((flags & kPurgeRxClear) && port.scanner) {
            const uint64_t now = sys.lock()->host.NowUs();
            uint8_t scratch[256];
            while (port.scanner->Transmit(scratch, sizeof scratch, state.baudRate, now) > 0) {
            }
        }
        return kErrorSuccess;
    }

    uint32_t ClearErrors() override { return Check(); }

private:
    std::weak_ptr<CSimPortSystem::Impl> sys;
    CSimPortSystem::Impl::Port& port;
    unsigned epoch;
    CPortState state;
    CPortTimeouts timeouts;
};

uint32_t CSimPortHandle::Read(void* buffer, unsigned size, unsigned* done)
{
    *done = 0;
    if (uint32_t e = Check())
        return e;
    auto system = sys.lock();
    CVirtualHost& host = system->host;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const uint64_t start = host.NowUs();
    const bool returnAtOnce = timeouts.readInterval == kMaxDword &&
                              timeouts.readTotalMultiplier == 0 &&
                              timeouts.readTotalConstant == 0;
    const bool returnOnFirst = timeouts.readInterval == kMaxDword &&
                               timeouts.readTotalMultiplier == kMaxDword;
    uint64_t totalUs;
    if (returnOnFirst)
        totalUs = uint64_t(timeouts.readTotalConstant) * 1000;
    else if (timeouts.readTotalMultiplier != 0 || timeouts.readTotalConstant != 0)
        totalUs = (uint64_t(timeouts.readTotalMultiplier) * size + timeouts.readTotalConstant) * 1000;
    else
        totalUs = uint64_t(kSimUnboundedReadMs) * 1000;
    const uint64_t intervalUs =
        timeouts.readInterval != kMaxDword ? uint64_t(timeouts.readInterval) * 1000 : 0;

    unsigned got = 0;
    uint64_t lastByteUs = start;
    for (;;) {
        const uint64_t now = host.NowUs();
        if (port.scanner && got < size) {
            const size_t n = port.scanner->Transmit(out + got, size - got, state.baudRate, now);
            if (n > 0) {
                got += static_cast<unsigned>(n);
                lastByteUs = now;
            }
        }
        if (got == size || returnAtOnce || ((returnOnFirst || port.earlyReads) && got > 0))
            break;
        uint64_t deadline = start + totalUs;
        if (intervalUs != 0 && got > 0)
            deadline = std::min(deadline, lastByteUs + intervalUs);
        if (now >= deadline)
            break;
        uint64_t next = deadline;
        if (port.scanner) {
            if (auto at = port.scanner->NextByteAtUs())
                next = std::min(next, *at);
            if (auto at = port.scanner->NextEventAtUs())
                next = std::min(next, *at);
        }
        host.AdvanceUs(std::max(next, now + 1) - now);
        if (uint32_t e = Check()) {
            *done = got;
            return e;
        }
    }
    *done = got;
    return kErrorSuccess;
}

}  // namespace

bool CSimPortSystem::Impl::Notifier::HandleGone(CPortHandle* handle)
{
    sys.Poll();
    if (!sys.handles.count(handle))
        return true;
    return static_cast<CSimPortHandle*>(handle)->Gone();
}

CSimPortSystem::CSimPortSystem(CVirtualHost& host) : impl(std::make_shared<Impl>(host)) {}

CSimPortSystem::~CSimPortSystem() = default;

CSimScanner& CSimPortSystem::AddScanner(const std::string& portName, SimConfig config)
{
    Impl::Port& port = impl->Add(portName);
    port.scanner = std::make_unique<CSimScanner>(std::move(config));
    return *port.scanner;
}

void CSimPortSystem::AddSilentPort(const std::string& portName)
{
    impl->Add(portName);
}

void CSimPortSystem::PlugOtherUsbDevice()
{
    ++impl->arrivals;
}

void CSimPortSystem::ReturnUnderName(const std::string& portName, const std::string& newName)
{
    Impl::Port* port = impl->Find(portName);
    if (!port || impl->Find(newName))
        throw std::invalid_argument("cannot rename simulated port " + portName);
    port->returnName = newName;
}

void CSimPortSystem::LimitSpeed(const std::string& portName, uint32_t highestBaud)
{
    impl->Named(portName).highestBaud = highestBaud;
}

void CSimPortSystem::SetRemovalError(const std::string& portName, uint32_t error)
{
    impl->Named(portName).removalError = error;
}

void CSimPortSystem::SetEarlyReads(const std::string& portName, bool early)
{
    impl->Named(portName).earlyReads = early;
}

void CSimPortSystem::SetBusy(const std::string& portName, bool busy)
{
    impl->Named(portName).busy = busy;
}

const std::vector<uint8_t>& CSimPortSystem::Sent(const std::string& portName) const
{
    return impl->Known(portName).sent;
}

unsigned CSimPortSystem::OpenCount(const std::string& portName) const
{
    return impl->Known(portName).opens;
}

bool CSimPortSystem::Held(const std::string& portName) const
{
    const Impl::Port& port = impl->Known(portName);
    return port.holder && !static_cast<const CSimPortHandle*>(port.holder)->Gone();
}

uint32_t CSimPortSystem::OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle)
{
    handle.reset();
    if (name.empty())
        return kErrorInvalidName;
    impl->Poll();
    Impl::Port* port = impl->Find(name);
    if (!port || port->vanished)
        return kErrorFileNotFound;
    if (port->busy || Held(port->name))
        return kErrorAccessDenied;
    ++port->opens;
    handle = std::make_unique<CSimPortHandle>(impl, *port);
    return kErrorSuccess;
}

std::vector<std::string> CSimPortSystem::EnumerateSerialPorts()
{
    impl->Poll();
    std::vector<std::string> names;
    for (const auto& port : impl->ports) {
        if (!port->vanished)
            names.push_back(port->name);
    }
    return names;
}

bool CSimPortSystem::IsCurrentPortUsb(const std::string& name, const std::string& vid,
                                      const std::string& pid, std::string& hardwareId)
{
    impl->Poll();
    const Impl::Port* port = impl->Find(name);
    if (!port || port->vanished || !port->scanner || !port->scanner->Config().usbCdc)
        return false;
    if (!SameName(vid, "0647") || !SameName(pid, "3339"))
        return false;
    hardwareId = "USB\\VID_0647&PID_3339\\" + std::to_string(port->scanner->Config().serialNumber);
    return true;
}

bool CSimPortSystem::PortUsbIdentity(const std::string& name, CUsbIdentity& identity)
{
    impl->Poll();
    const Impl::Port* port = impl->Find(name);
    if (!port || port->vanished || !port->scanner || !port->scanner->Config().usbCdc)
        return false;
    identity = {"0647", "3339", std::to_string(port->scanner->Config().serialNumber), port->location};
    return true;
}

CDeviceNotifier& CSimPortSystem::Notifier()
{
    return impl->notifier;
}
