// The two operations of the main list (firmware update, return to the working program)
// and the block writer with its progress text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/commands.h"

class CScannerProtocol;
class CMessageInterface;
class CRunView;
namespace ldr {
struct file;
struct module;
struct block_ref;
}  // namespace ldr

// What the firmware update read of the computational processor in its loader.
struct CLoaderVersions {
    std::optional<uint16_t> hardware;
    std::optional<uint16_t> loader;
};

// What the firmware update tells the run about its transfer.
struct CTransferReport {
    unsigned baud = 0;            // the speed the module went out at; 0: no transfer began
    // Said after the row's status: the transfer went slower than the speed chosen.
    std::string remark;
    // The speed chosen failed its check: the run's later attempts write at 115200.
    bool keepBaseSpeed = false;
    // The scanner answered at none of the speeds looked at after the switch.
    bool stranded = false;
};

// Built by the run loop for each executed row; valid during the call only.
struct OperationContext {
    CScannerProtocol* protocol;   // its device is open and the scanner answers
    const ldr::file* firmware;    // the file loaded at Start
    CMessageInterface* sink;      // progress into the row's status cell
    CRunView* window;
    // The speed code the scanner is to be left at: the one it was found at when the run
    // first reached it; -1: the speed it has when the operation starts.
    int homeSpeedCode = -1;
    CLoaderVersions* loaderVersions = nullptr;   // may be null
    // The speed code the module is written at (6..9); a faster one than 115200 is asked
    // for, proved and given up for 115200 where it fails.
    int transferSpeedCode = kTransferSpeedCode;
    CTransferReport* transfer = nullptr;   // may be null
};

// Succeeds by returning, fails by throwing (test_exception, stop_exception, ...).
using OperationFunction = void (*)(OperationContext* context);

struct OperationDescriptor {
    uint32_t nameId;
    OperationFunction function;
    int flag;
};

constexpr unsigned kFirmwareModuleKind = 1;   // the computational module

// The module the firmware update writes: the file's first computational module. A file
// without one is refused before any scanner is touched: throws ldr_exception naming the
// file (path, as the operator gave it) and the missing module.
const ldr::module& FirmwareModule(const ldr::file& firmware, const std::string& path);

// The rows of the main list, in order.
const OperationDescriptor* OperationCatalogue(size_t& count);
// The name of an operation of the catalogue as its string id; 0 for another function.
unsigned OperationNameId(OperationFunction function);

void UpdateFirmware(OperationContext* context);
void SwitchToWorkingMode(OperationContext* context);

// Writes a module at the transfer speed code (115200 unless a faster one is asked for and
// holds) and then puts the scanner at homeSpeedCode (-1: back to the speed it had
// before). A scanner lost after the switch to the faster speed fails with
// IDS_TRANSFER_SPEED_LOST; report (may be null) says how the transfer went.
void WriteModuleFast(CScannerProtocol& protocol, const ldr::module& module,
                     CMessageInterface& sink, int homeSpeedCode = -1,
                     int transferSpeedCode = kTransferSpeedCode,
                     CTransferReport* report = nullptr);
// Writes every block in order, showing the progress text after each one.
void WriteModuleBlocks(CScannerProtocol& protocol, const ldr::module& module,
                       CMessageInterface& sink);
void WriteBlock(CScannerProtocol& protocol, ldr::block_ref block);

// "Выполнено: %3lu%% (%lu байт/cек.)" after k of count blocks of blockSize bytes in
// elapsedMs milliseconds.
std::string ProgressText(uint64_t k, uint64_t count, uint64_t blockSize, uint64_t elapsedMs);
