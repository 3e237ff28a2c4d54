// The run of the main list: the firmware file loaded, the scanner found on the configured
// port, each checked row's operation called in order with its status, the retry question
// on a failure, and Stop. Written against a small view that the main window implements
// (and the command-line tool too).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/host.h"
#include "engine/operations.h"
#include "transport/port_system.h"

class CComDevice;
class CPortSystem;
class CScannerProtocol;
namespace ldr {
struct file;
}

class CRunView {
public:
    virtual ~CRunView() = default;
    virtual int RowCount() = 0;
    // Checked or locked: the row runs.
    virtual bool IsRowChecked(int row) = 0;
    virtual OperationFunction RowOperation(int row) = 0;
    virtual void SetRowStatus(int row, const std::string& text) = 0;
    // A row's final status (OK, error, interrupted, skipped) as its string id; shown as
    // its text unless the view keeps the result itself.
    virtual void SetRowResult(int row, unsigned statusId);
    // After the run: how it left the scanner, when not as it was found (still in its
    // loader, or at another speed), said on the row the run ended on, whose final
    // status was statusId. Shown after the status unless the view says it itself.
    virtual void SetRowNote(int row, unsigned statusId, const std::string& note);
    // A row that ended with statusId and went otherwise than chosen (the transfer fell
    // back to 115200): said after the status unless the view says it itself.
    virtual void SetRowRemark(int row, unsigned statusId, const std::string& remark);
    virtual void EnsureRowVisible(int row) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    // Draws the operator's eye when the window is not the active one.
    virtual void FlashIfInactive() = 0;
    // The window the run's message boxes belong to.
    virtual BoxOwner OwnerWindow() = 0;
};

// A row's progress sink: its status cell.
class CRowStatusSink : public CMessageInterface {
public:
    CRowStatusSink(CRunView& view, int row) : view(view), row(row) {}
    void ShowMessage(const char* text) override { view.SetRowStatus(row, text); }

private:
    CRunView& view;
    int row;
};

// The settings a run reads; the run writes back the port's speed code at its end.
struct CRunSettings {
    std::string portName;
    int baudCode = 2;
    unsigned timeout = 3000;
    std::string firmwareFile;
    int transferSpeedCode = kTransferSpeedCode;   // the speed the module is written at
};

constexpr unsigned kPortWaitTries = 10;
constexpr uint32_t kPortWaitPauseMs = 300;

// The device caption of the title: "COM3 (з/н: 1234567)", or the port alone.
std::string DeviceCaption(const std::string& port, const char* serial);
// "COM3 (з/н: 1234567) - Обновление прошивок в сканерах QZT 1.3.2"
std::string MainTitle(const std::string& port, const char* serial, const std::string& version);

class CRunEngine {
public:
    CRunEngine(CRunHost& host, CPortSystem& ports, CRunView& view, CRunSettings& settings,
               std::string versionText);

    // Start: the run, with anything that escapes it (a firmware file that cannot be
    // loaded) shown in an error box. Never throws.
    void Start(const ldr::file* loaded = nullptr);
    // The run loop itself; throws what fails before the first row. With loaded, the
    // firmware is that file (loaded once for several runs) instead of the settings' file.
    void RunOperations(const ldr::file* loaded = nullptr);

    void UpdateTitle(const char* serial);
    // False only when both identifiers are known and differ.
    bool IsSameScanner(const uint8_t id[16]) const;

    // Fixed set of operations: every row after the first must see the same scanner.
    bool fixedSet = true;
    // The scanner result code of the last failure the run asked about (RESULT_NO_LINK
    // when the scanner did not answer); 0 for a failure without one.
    int lastFailureResult = 0;
    // The last run ended by a stop request (the row it reached reads "Прервано").
    bool stopped = false;
    // The serial number of the last scanner read; 0xFFFFFFFF = unknown. Kept between runs.
    uint32_t serialNumber = 0xFFFFFFFFu;
    // The unique identifier of the run's scanner: the first one read in the run; empty
    // while no read has succeeded (an identifier that could not be read is unknown, and
    // an unknown one matches anything).
    std::optional<std::array<uint8_t, 16>> scannerId;
    // The USB device of the run's scanner, as its port was first opened in the run; a
    // scanner that comes back from a restart under another port name is followed by it.
    std::optional<CUsbIdentity> scannerUsb;
    // The speed code the scanner answered at when the last run first reached it; -1 when
    // it never did. A run that does not end with every row "OK" puts the scanner back at
    // this speed where it can still reach it.
    int foundSpeedCode = -1;
    // How the last run left the scanner when not as it was found; empty otherwise.
    std::string leftNote;
    // A scanner that already runs the firmware module's version is not updated: it is
    // never asked for its loader, and every row of the run is "Пропущен".
    bool skipCurrent = false;
    // The last run skipped its scanner for that.
    bool skipped = false;
    // The version word of the Blackfin's working program before the firmware row first
    // switched the scanner, and after the return to the working program; unset where
    // the scanner did not tell.
    std::optional<uint16_t> versionBefore;
    std::optional<uint16_t> versionAfter;
    // Per row of the last run, how many times it was run.
    std::vector<unsigned> rowAttempts;
    // What the last run's update read in the loader.
    CLoaderVersions loaderVersions;
    // The last run's transfer: the speed it went at and what the firmware row said.
    CTransferReport transfer;

private:
    // Waits for the port to be listed, opens it and finds the scanner's speed.
    void OpenScannerPort(CComDevice& device, CScannerProtocol& protocol);
    // The first row reads the serial number and the unique id; with a fixed set, later
    // rows check that the unique id has not changed (or take it if it was not read yet).
    void IdentifyScanner(CScannerProtocol& protocol, int row);
    // One checked row: the port opened if needed, the scanner identified, the operation.
    void RunRow(int row, CComDevice& device, CScannerProtocol& protocol,
                const ldr::file& firmware, std::string& serial);
    // Before the firmware row's work: the version the scanner runs, and whether that is
    // the module's already (skipCurrent).
    bool ScannerIsCurrent(CScannerProtocol& protocol, const ldr::file& firmware, int row);
    // The run's events for the trace, when one is written.
    void TraceEvent(const std::string& what);
    // After a failure with a message: the port closed (its speed kept), then the row's
    // error and the question; a pending Stop instead ends the row as interrupted.
    bool AskToRetry(const object_description& failure, CComDevice& device, int row);
    // The row interrupted by Stop: the run ends.
    void EndStopped(int row);
    // At the end of a run that did not end with every row "OK": the scanner put back at
    // the speed it was found at, on a port opened afresh, even after a stop (only a new
    // stop cuts this short); leftNote says what could not be undone.
    void LeaveScannerAsFound();

    CRunHost& host;
    CPortSystem& ports;
    CRunView& view;
    CRunSettings& settings;
    std::string versionText;
};
