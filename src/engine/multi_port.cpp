#include "engine/multi_port.h"

#include <algorithm>
#include <chrono>

#include "base/host.h"
#include "base/record_file.h"
#include "base/strings.h"
#include "engine/operations.h"
#include "engine/shared_stop_host.h"
#include "engine/run_loop.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"
#include "transport/single_port_system.h"

namespace {

// A port's host: the clock and pump of its thread, a stop shared by every port, and a
// message policy without questions. A failure's question is answered Yes while retries
// last, then No; the failure and any error box end up in the result, not on a screen.
class CPortRunHost : public CSharedStopHost {
public:
    CPortRunHost(CRunHost& thread, std::atomic<bool>& stopAll, unsigned retries)
        : CSharedStopHost(thread, stopAll), retriesLeft(retries)
    {
    }

    bool ShowMessageBox(const std::string& text, const std::string&, MessageBoxKind kind,
                        BoxOwner) override
    {
        if (kind != MessageBoxKind::Question) {
            lastMessage = text;
            return true;
        }
        // A failure met by a stop is the stop's: the port was stopped, not failed.
        TakePendingStop();
        // The question follows the failure's message after an empty line.
        const size_t question = text.rfind("\r\n\r\n");
        lastMessage = question == std::string::npos ? text : text.substr(0, question);
        if (retriesLeft == 0)
            return false;
        --retriesLeft;
        return true;
    }

    std::string lastMessage;

private:
    unsigned retriesLeft;
};

// The operation list of one port: every row of the catalogue runs; statuses go to the
// observer and the result, and the firmware row's progress gives the transfer rate.
class CPortView : public CRunView {
public:
    CPortView(CRunHost& clock, CMultiRunObserver* observer, size_t index,
              CPortRunResult& result, uint32_t blockSize)
        : clock(clock), observer(observer), index(index), result(result), meter(blockSize)
    {
        catalogue = OperationCatalogue(rows);
        result.rowStatus.assign(rows, 0);
    }

    int RowCount() override { return static_cast<int>(rows); }
    bool IsRowChecked(int) override { return true; }
    OperationFunction RowOperation(int row) override { return catalogue[row].function; }

    void SetRowStatus(int row, const std::string& text) override
    {
        if (text.empty())
            return;
        if (row == 0)
            meter.OnFirmwareRowText(text, clock.TickCount());
        if (observer)
            observer->OnPortProgress(index, row, text);
    }

    void SetRowResult(int row, unsigned statusId) override
    {
        result.rowStatus[row] = statusId;
        if (observer)
            observer->OnPortProgress(index, row, LoadText(statusId));
    }

    void SetRowNote(int, unsigned, const std::string& note) override { result.note = note; }

    void SetRowRemark(int row, unsigned statusId, const std::string& remark) override
    {
        result.remark = remark;
        if (observer)
            observer->OnPortProgress(index, row, AppendSentence(LoadText(statusId), remark));
    }

    void EnsureRowVisible(int) override {}
    void SetTitle(const std::string&) override {}
    void FlashIfInactive() override {}
    BoxOwner OwnerWindow() override { return nullptr; }   // a port's run has no window

    uint64_t BytesPerSecond() const { return meter.BytesPerSecond(); }

private:
    CRunHost& clock;
    CMultiRunObserver* observer;
    size_t index;
    CPortRunResult& result;
    CTransferMeter meter;
    const OperationDescriptor* catalogue = nullptr;
    size_t rows = 0;
};

class CNativeEnvironment : public CPortEnvironment {
public:
    CRunHost& Host() override { return PlatformHost(); }
    CPortSystem& Ports() override { return NativePortSystem(); }
};

class CTracedEnvironment : public CPortEnvironment {
public:
    CTracedEnvironment(std::unique_ptr<CPortEnvironment> inner, CTraceSink& trace)
        : inner(std::move(inner)), ports(this->inner->Ports(), trace)
    {
    }
    CRunHost& Host() override { return inner->Host(); }
    CPortSystem& Ports() override { return ports; }

private:
    std::unique_ptr<CPortEnvironment> inner;
    CTracedPortSystem ports;
};

}  // namespace

void TakeScannerFacts(const CRunEngine& engine, const CRunSettings& run, CPortRunResult& result)
{
    result.serialNumber = engine.serialNumber;
    // Every row "OK": the operations left the scanner at the speed it was found at, even
    // where the run's own code still holds the 115200 of a failed transfer it retried.
    if (engine.foundSpeedCode >= 0)
        result.speedCode = result.Succeeded() ? engine.foundSpeedCode : run.baudCode;
    result.usb = engine.scannerUsb;
    result.hardwareVersion = engine.loaderVersions.hardware;
    result.loaderVersion = engine.loaderVersions.loader;
    if (engine.scannerId)
        result.uniqueId = HexText(engine.scannerId->data(), engine.scannerId->size());
    result.rowAttempts = engine.rowAttempts;
    result.versionBefore = engine.versionBefore ? int(*engine.versionBefore) : -1;
    result.versionAfter = engine.versionAfter ? int(*engine.versionAfter) : -1;
    result.skipped = engine.skipped;
    result.transferBaud = engine.transfer.baud;
}

CPortEnvironmentFactory TracedPortEnvironments(CPortEnvironmentFactory inner, CTraceSink& trace)
{
    return [inner = std::move(inner), &trace](const std::string& port) {
        return std::unique_ptr<CPortEnvironment>(
            std::make_unique<CTracedEnvironment>(inner(port), trace));
    };
}

void CTransferMeter::OnFirmwareRowText(const std::string& text, uint32_t nowMs)
{
    if (text == LoadText(IDS_STATUS_RUNNING)) {
        blocks = 0;
        return;
    }
    if (++blocks == 1) {
        firstAt = nowMs;
        return;
    }
    const uint32_t elapsed = nowMs - firstAt;
    if (elapsed > 0)
        rate = (blocks - 1) * blockSize * 1000 / elapsed;
}

std::string ProbeScannerModel(CRunHost& host, CPortSystem& ports, CRunSettings& settings)
{
    CComDevice device(ports, host);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    try {
        if (!ports.SerialPortExists(settings.portName))
            return {};
        OpenComPort(device, settings.portName, BaudFromCode(settings.baudCode), settings.timeout);
        unsigned char model = 0;
        if (FindSpeed(protocol, nullptr, 0) && Probe(protocol, &model)) {
            settings.baudCode = CodeFromBaud(device.GetBaudRate());
            return ModelText(model);
        }
    } catch (const object_description&) {
    }
    return {};
}

bool CPortRunResult::Succeeded() const
{
    return !rowStatus.empty() &&
           std::all_of(rowStatus.begin(), rowStatus.end(),
                       [](unsigned status) { return status == IDS_STATUS_OK; });
}

std::unique_ptr<CPortEnvironment> NativePortEnvironment(const std::string&)
{
    return std::make_unique<CNativeEnvironment>();
}

CMultiPortRun::CMultiPortRun(const ldr::file& firmware, CMultiRunSettings settings,
                             CPortEnvironmentFactory environments, CMultiRunObserver* observer)
    : firmware(firmware), settings(std::move(settings)), environments(std::move(environments)),
      observer(observer)
{
    size_t rows = 0;
    OperationCatalogue(rows);
    for (const CPortTarget& target : this->settings.ports) {
        CPortRunResult result;
        result.port = target.name;
        result.rowStatus.assign(rows, 0);
        results.push_back(std::move(result));
    }
}

CMultiPortRun::~CMultiPortRun()
{
    StopAll();
    Wait();
}

void CMultiPortRun::Start()
{
    const size_t count = settings.ports.size();
    const size_t threads = settings.jobs == 0 ? count : std::min<size_t>(settings.jobs, count);
    for (size_t k = 0; k < threads; ++k)
        workers.emplace_back(&CMultiPortRun::Worker, this);
}

void CMultiPortRun::StopAll()
{
    stopAll = true;
}

void CMultiPortRun::Wait()
{
    for (std::thread& worker : workers)
        if (worker.joinable())
            worker.join();
}

bool CMultiPortRun::WaitFor(uint32_t ms)
{
    std::unique_lock<std::mutex> lock(doneMutex);
    return doneSignal.wait_for(lock, std::chrono::milliseconds(ms),
                               [this] { return portsDone == results.size(); });
}

void CMultiPortRun::Worker()
{
    for (;;) {
        const size_t index = nextPort++;
        if (index >= results.size())
            return;
        if (stopAll)
            results[index].stopped = true;
        else
            RunPort(index);
        if (observer)
            observer->OnPortFinished(index, results[index]);
        std::lock_guard<std::mutex> lock(doneMutex);
        ++portsDone;
        doneSignal.notify_all();
    }
}

void CMultiPortRun::RunPort(size_t index)
{
    const CPortTarget& target = settings.ports[index];
    const std::unique_ptr<CPortEnvironment> environment = environments(target.name);
    RunPortUpdate(firmware, target, settings, *environment, stopAll, observer, index, results[index]);
}

void RunPortUpdate(const ldr::file& firmware, const CPortTarget& target,
                   const CMultiRunSettings& settings, CPortEnvironment& environment,
                   std::atomic<bool>& stop, CMultiRunObserver* observer, size_t index,
                   CPortRunResult& result)
{
    CPortRunHost host(environment.Host(), stop, settings.retries);
    CSinglePortSystem ports(environment.Ports(), target.name, host);
    const ldr::module* module = ldr::find_module(firmware, kFirmwareModuleKind);
    CPortView view(host, observer, index, result, module ? module->block_size : 0);
    CRunSettings run{target.name, target.baudCode, settings.timeout, settings.firmwareFile,
                     settings.transferSpeedCode};

    result.startTime = UtcTimeText();
    const uint32_t start = host.TickCount();
    bool stopped = false;
    try {
        result.model = ProbeScannerModel(host, ports, run);
        host.PumpMessages();
        CRunEngine engine(host, ports, view, run, std::string());
        engine.serialNumber = target.serialNumber;
        engine.skipCurrent = settings.skipCurrent;
        engine.Start(&firmware);
        stopped = engine.stopped;
        TakeScannerFacts(engine, run, result);
    } catch (const stop_exception&) {
        stopped = true;
    }
    // A stopped port ended by the stop, not by a failure it met and retried before it.
    result.stopped = stopped;
    result.failure = stopped ? std::string() : host.lastMessage;
    result.durationMs = host.TickCount() - start;
    result.bytesPerSecond = view.BytesPerSecond();
    result.endTime = UtcTimeText();
}
