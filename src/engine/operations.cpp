#include "engine/operations.h"

#include "base/host.h"
#include "base/strings.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/mode_switch.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

namespace {

constexpr unsigned char kBitProcessorAtmega = 0x20;   // byte 0, bit 5
constexpr unsigned char kBitClearOnWrite = 0x10;      // byte 0, bit 4
constexpr unsigned char kBitChecksumGood = 0x01;      // byte 1, bit 0

const OperationDescriptor kOperations[] = {
    {103, UpdateFirmware, 0},
    {107, SwitchToWorkingMode, 0},
};

}  // namespace

const OperationDescriptor* OperationCatalogue(size_t& count)
{
    count = sizeof(kOperations) / sizeof(kOperations[0]);
    return kOperations;
}

unsigned OperationNameId(OperationFunction function)
{
    for (const OperationDescriptor& operation : kOperations)
        if (operation.function == function)
            return operation.nameId;
    return 0;
}

const ldr::module& FirmwareModule(const ldr::file& firmware, const std::string& path)
{
    const ldr::module* module = ldr::find_module(firmware, kFirmwareModuleKind);
    if (module == nullptr)
        throw ldr_exception(IDS_LDR_NO_MODULE,
                            StringPrintf(LoadText(IDS_LDR_NO_MODULE), path.c_str(),
                                         LoadText(ModuleKindTextId(kFirmwareModuleKind))));
    return *module;
}

std::string ProgressText(uint64_t k, uint64_t count, uint64_t blockSize, uint64_t elapsedMs)
{
    const uint64_t percent = 100 * k / count;
    const uint64_t rate = blockSize * 1000 * k / (elapsedMs + 1);
    return StringPrintf(LoadText(IDS_PROGRESS), static_cast<unsigned long>(percent),
                        static_cast<unsigned long>(rate));
}

void WriteBlock(CScannerProtocol& protocol, ldr::block_ref block)
{
    const unsigned size = static_cast<unsigned>(block.data.size());
    CheckResult(protocol.WriteMemory(block.address, size ? block.data.data() : nullptr, size,
                                     nullptr, nullptr, kMemoryChunk));
}

void WriteModuleBlocks(CScannerProtocol& protocol, const ldr::module& module,
                       CMessageInterface& sink)
{
    const uint64_t count = module.blocks.size();
    if (count == 0)
        return;
    CRunHost& host = protocol.Host();
    const uint32_t start = host.TickCount();
    for (uint64_t k = 1; k <= count; ++k) {
        WriteBlock(protocol, module.blocks[k - 1]);
        const uint32_t elapsed = host.TickCount() - start;
        sink.ShowMessage(ProgressText(k, count, module.block_size, elapsed).c_str());
        host.PumpMessages();   // Stop ends the transfer between two blocks
    }
}

void WriteModuleFast(CScannerProtocol& protocol, const ldr::module& module,
                     CMessageInterface& sink, int homeSpeedCode, int transferSpeedCode,
                     CTransferReport* report)
{
    CTransferReport unused;
    CTransferReport& told = report ? *report : unused;
    // A retried transfer starts at the transfer's speed, where the failed one left the
    // scanner: the speed to go back to is the one the run found it at, not the one it has.
    const int home = homeSpeedCode >= 0 ? homeSpeedCode : GetSpeed(protocol, true);
    const bool fast = !told.keepBaseSpeed && transferSpeedCode > kTransferSpeedCode;
    const int asked = fast ? transferSpeedCode : kTransferSpeedCode;
    // Until the fast speed has proved itself, a retry must not ask for it again.
    told.keepBaseSpeed = told.keepBaseSpeed || fast;
    told.stranded = false;
    const CTransferSpeed speed = SwitchToTransferSpeed(protocol, asked);
    switch (speed.outcome) {
    case TransferSpeedOutcome::Taken:
        if (fast)
            told.keepBaseSpeed = false;
        break;
    case TransferSpeedOutcome::Kept:
        break;
    case TransferSpeedOutcome::FellBack:
        told.remark = StringPrintf(LoadText(IDS_TRANSFER_FELL_BACK), BaudFromCode(asked));
        break;
    case TransferSpeedOutcome::Lost:
        told.stranded = true;
        throw test_exception(StringPrintf(LoadText(IDS_TRANSFER_SPEED_LOST), BaudFromCode(asked)));
    }
    told.baud = BaudFromCode(speed.code);
    WriteModuleBlocks(protocol, module, sink);
    SetSpeed(protocol, home, true);
}

void UpdateFirmware(OperationContext* context)
{
    CScannerProtocol& protocol = *context->protocol;
    SwitchMode(protocol, MODE_LOADER, false);

    unsigned char reg[4] = {0, 0, 0, 0};
    CheckResult(protocol.ReadModeRegister(reg));
    reg[0] = static_cast<unsigned char>((reg[0] | kBitClearOnWrite) & ~kBitProcessorAtmega);
    WriteModeRegisterChecked(protocol, reg);
    // The record names the loader and hardware the module went to; a loader that does
    // not tell them is updated all the same.
    uint16_t loader = 0;
    uint16_t hardware = 0;
    if (context->loaderVersions && ReadProcessorVersions(protocol, loader, hardware)) {
        context->loaderVersions->loader = loader;
        context->loaderVersions->hardware = hardware;
    }

    const ldr::module* module = ldr::find_module(*context->firmware, kFirmwareModuleKind);
    if (module == nullptr)
        throw test_exception(IDS_NO_FIRMWARE);
    WriteModuleFast(protocol, *module, *context->sink, context->homeSpeedCode,
                    context->transferSpeedCode, context->transfer);

    CheckResult(protocol.ReadModeRegister(reg));
    if (!(reg[1] & kBitChecksumGood))
        throw test_exception(IDS_CHECKSUM_MISMATCH);

    if (auto* device = dynamic_cast<CComDevice*>(protocol.GetDevice()))
        device->Close();
}

void SwitchToWorkingMode(OperationContext* context)
{
    SwitchMode(*context->protocol, MODE_APPLICATION, false);
}
