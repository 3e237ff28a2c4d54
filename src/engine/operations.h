// The two operations of the main list (firmware update, return to the working program)
// and the block writer with its progress text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

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
};

// Succeeds by returning, fails by throwing (test_exception, stop_exception, ...).
using OperationFunction = void (*)(OperationContext* context);

struct OperationDescriptor {
    uint32_t nameId;
    OperationFunction function;
    int flag;
};

constexpr unsigned kFirmwareModuleKind = 1;   // the computational module
constexpr int kTransferSpeedCode = 6;         // 115200 baud

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

// Writes a module at 115200 baud and then puts the scanner at homeSpeedCode (-1: back
// to the speed it had before).
void WriteModuleFast(CScannerProtocol& protocol, const ldr::module& module,
                     CMessageInterface& sink, int homeSpeedCode = -1);
// Writes every block in order, showing the progress text after each one.
void WriteModuleBlocks(CScannerProtocol& protocol, const ldr::module& module,
                       CMessageInterface& sink);
void WriteBlock(CScannerProtocol& protocol, ldr::block_ref block);

// "Выполнено: %3lu%% (%lu байт/cек.)" after k of count blocks of blockSize bytes in
// elapsedMs milliseconds.
std::string ProgressText(uint64_t k, uint64_t count, uint64_t blockSize, uint64_t elapsedMs);
