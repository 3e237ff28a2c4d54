#include "protocol/device_info.h"

#include <cstring>

#include "base/host.h"
#include "base/strings.h"
#include "protocol/commands.h"
#include "protocol/mode_switch.h"
#include "protocol/scanner_protocol.h"

namespace {

struct ModelEntry {
    unsigned code;
    unsigned kindId;
    unsigned nameId;
};

const ModelEntry kModels[] = {
    {100, IDS_KIND_STATIONARY, IDS_MODEL_DROVIK},
    {150, IDS_KIND_HANDHELD, IDS_MODEL_PELLAR_II},
    {151, IDS_KIND_HANDHELD, IDS_MODEL_PELLAR_HD},
    {152, IDS_KIND_HANDHELD, IDS_MODEL_PELLAR_II_PLUS},
    {153, IDS_KIND_HANDHELD, IDS_MODEL_PELLAR_LITE},
    {154, IDS_KIND_HANDHELD, IDS_MODEL_PELLAR_V},
    {155, IDS_KIND_HANDHELD, IDS_MODEL_PELLAR_LITE_V2},
    {156, IDS_KIND_HANDHELD, IDS_MODEL_PELLARX_L},
    {157, IDS_KIND_HANDHELD, IDS_MODEL_PELLARX_VB},
    {158, IDS_KIND_HANDHELD, IDS_MODEL_PELLARX_HD},
    {159, IDS_KIND_HANDHELD, IDS_MODEL_PELLARX_BTA},
    {200, IDS_KIND_EMBEDDED, IDS_MODEL_TOLVAN},
    {201, IDS_KIND_EMBEDDED, IDS_MODEL_TOLVAN_PLUS},
    {202, IDS_KIND_EMBEDDED, IDS_MODEL_TIVOR},
    {203, IDS_KIND_EMBEDDED, IDS_MODEL_TOLVAN_TRANSPORT},
    {204, IDS_KIND_EMBEDDED, IDS_MODEL_TOLVAN_PLUS_V2},
    {205, IDS_KIND_EMBEDDED, IDS_MODEL_NALMO},
    {206, IDS_KIND_EMBEDDED, IDS_MODEL_OSTREL},
    {207, IDS_KIND_EMBEDDED, IDS_MODEL_TOLVAN_PLUS_V3},
    {208, IDS_KIND_STATIONARY, IDS_MODEL_RTQ_VBT},
    {209, IDS_KIND_STATIONARY, IDS_MODEL_ZHLF},
    {210, IDS_KIND_STATIONARY, IDS_MODEL_RTQ},
};

constexpr unsigned char kBitProcessorAtmega = 0x20;   // byte 0, bit 5
constexpr unsigned char kBitProcessorClear = 0x10;    // byte 0, bit 4

constexpr uint64_t kTicksPerDay = 864000000000ull;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

unsigned DaysInMonth(int year, unsigned month)
{
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

uint16_t Word(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Dword(const unsigned char* p)
{
    return Word(p) | (uint32_t(Word(p + 2)) << 16);
}

// The register as a part reads it once; both processor selections of the part write
// from this buffer.
void ReadRegister(CScannerProtocol& protocol, unsigned char reg[4])
{
    CheckResult(protocol.ReadModeRegister(reg));
}

// Selects the processor that the versions query reports on, with a checked write.
void SelectProcessor(CScannerProtocol& protocol, unsigned char reg[4], bool atmega, bool clearBit4)
{
    if (atmega)
        reg[0] |= kBitProcessorAtmega;
    else
        reg[0] &= static_cast<unsigned char>(~kBitProcessorAtmega);
    if (clearBit4)
        reg[0] &= static_cast<unsigned char>(~kBitProcessorClear);
    WriteModeRegisterChecked(protocol, reg);
}

void ReadVersions(CScannerProtocol& protocol, uint16_t& word0, uint16_t& word1)
{
    unsigned char reply[5] = {0, 0, 0, 0, 0};
    CheckResult(protocol.GetInfo(reply, 0));
    word0 = Word(reply);
    word1 = Word(reply + 2);
}

void ReadFactoryBlock(CScannerProtocol& protocol, unsigned char block[kFactoryBlockSize])
{
    CheckResult(protocol.ReadMemory(kFactoryBlockAddress, block, kFactoryBlockSize, nullptr, nullptr,
                              kMemoryChunk));
}

void ReadApplicationPart(CScannerProtocol& protocol, CDeviceInfo& info)
{
    info.applicationRead = false;
    try {
        SwitchMode(protocol, MODE_APPLICATION, false);
        unsigned char reg[4] = {0, 0, 0, 0};
        ReadRegister(protocol, reg);
        SelectProcessor(protocol, reg, true, true);
        uint16_t unused = 0;
        ReadVersions(protocol, info.appVersionAtmega, unused);
        unsigned char block[kFactoryBlockSize];
        ReadFactoryBlock(protocol, block);
        info.serialNumber = Dword(block);
        info.productionDate = DosDateToFileTime(Word(block + 4));
        info.factoryWord = Word(block + 6);
        SelectProcessor(protocol, reg, false, false);
        ReadVersions(protocol, info.appVersionBlackfin, info.appVersionBlackfinExt);
        info.applicationRead = true;
    } catch (const test_exception&) {
        // An application that cannot be reached still leaves the loader's half of the
        // record worth showing; the text marks the missing values.
    }
}

void ReadLoaderPart(CScannerProtocol& protocol, CDeviceInfo& info)
{
    SwitchMode(protocol, MODE_LOADER, false);
    unsigned char reg[4] = {0, 0, 0, 0};
    ReadRegister(protocol, reg);
    SelectProcessor(protocol, reg, true, false);
    ReadVersions(protocol, info.loaderVersionAtmega, info.hwVersionAtmega);
    SelectProcessor(protocol, reg, false, false);
    ReadVersions(protocol, info.loaderVersionBlackfin, info.hwVersionBlackfin);
}

}  // namespace

uint64_t DosDateToFileTime(uint16_t dosDate)
{
    const unsigned day = dosDate & 0x1F;
    const unsigned month = (dosDate >> 5) & 0x0F;
    const int year = 1980 + (dosDate >> 9);
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return kInvalidFileTime;
    const int64_t days = DaysFromCivil(year, month, day) + kDays1601To1970;
    return static_cast<uint64_t>(days) * kTicksPerDay;
}

void ReadDeviceInfo(CScannerProtocol& protocol, CDeviceInfo& info)
{
    unsigned char scratch[16];
    protocol.GetUniqueId(scratch, TRANSPORT_SERIAL);

    unsigned char identity[5] = {0, 0, 0, 0, 0};
    CheckResult(protocol.GetInfo(identity, 1));
    info.modelCode = identity[4];

    unsigned char reg[4] = {0, 0, 0, 0};
    int result = protocol.ReadModeRegister(reg);
    int startMode = MODE_APPLICATION;   // no answer at all: the application is running
    if (result != RESULT_NO_LINK) {
        CheckResult(result);
        startMode = (reg[0] & 0x02) ? MODE_LOADER : MODE_APPLICATION;
    }

    // Visit the mode that is not running first, so the scanner ends where it started.
    if (startMode == MODE_LOADER) {
        ReadApplicationPart(protocol, info);
        ReadLoaderPart(protocol, info);
    } else {
        ReadLoaderPart(protocol, info);
        ReadApplicationPart(protocol, info);
    }
}

bool ReadBlackfinProgramVersion(CScannerProtocol& protocol, uint16_t& version)
{
    unsigned char reg[4] = {0, 0, 0, 0};
    if (protocol.ReadModeRegister(reg) != RESULT_OK || !IsInMode(reg, MODE_APPLICATION))
        return false;
    const bool atmegaSelected = (reg[0] & kBitProcessorAtmega) != 0;
    unsigned char found[4];
    std::memcpy(found, reg, sizeof found);
    try {
        if (atmegaSelected)
            SelectProcessor(protocol, reg, false, false);
        unsigned char reply[5] = {0, 0, 0, 0, 0};
        const bool read = protocol.GetInfo(reply, 0) == RESULT_OK;
        if (atmegaSelected)
            WriteModeRegisterChecked(protocol, found);
        if (read)
            version = Word(reply);
        return read;
    } catch (const object_description&) {
        // A scanner that refuses the selection is not updated or skipped for it.
        return false;
    }
}

bool ReadProcessorVersions(CScannerProtocol& protocol, uint16_t& first, uint16_t& second)
{
    unsigned char reply[5] = {0, 0, 0, 0, 0};
    if (protocol.GetInfo(reply, 0) != RESULT_OK)
        return false;
    first = Word(reply);
    second = Word(reply + 2);
    return true;
}

bool ReadSerialNumber(CScannerProtocol& protocol, uint32_t& serial, bool switchFirst)
{
    try {
        if (switchFirst)
            SwitchMode(protocol, MODE_APPLICATION, false);
        unsigned char reg[4] = {0, 0, 0, 0};
        CheckResult(protocol.ReadModeRegister(reg));
        if (reg[0] & 0x02)
            return false;
        reg[0] |= kBitProcessorAtmega;
        reg[0] &= static_cast<unsigned char>(~kBitProcessorClear);
        WriteModeRegisterChecked(protocol, reg);
        unsigned char block[kFactoryBlockSize];
        ReadFactoryBlock(protocol, block);
        serial = Dword(block);
        return true;
    } catch (const test_exception&) {
        return false;
    }
}

std::string ModelText(unsigned modelCode)
{
    for (const ModelEntry& model : kModels)
        if (model.code == modelCode)
            return StringPrintf("%s \"%s\"", LoadText(model.kindId), LoadText(model.nameId));
    return StringPrintf("%s (%u)", LoadText(IDS_MODEL_UNKNOWN), modelCode);
}

std::string VersionText(uint16_t version)
{
    return StringPrintf("%u.%u", (version >> 8) & 0xFFu, version & 0xFFu);
}

std::string SerialText(uint32_t serial)
{
    if (serial == kSerialNotSet)
        return "-";
    return StringPrintf("%lu", static_cast<unsigned long>(serial));
}

std::string DateText(uint64_t fileTime)
{
    // The stored time is a calendar date at midnight; it is shown as that date, with no
    // time-zone shift that could move it to the day before.
    if (fileTime == kInvalidFileTime)
        return "-";
    const int64_t days = static_cast<int64_t>(fileTime / kTicksPerDay) - kDays1601To1970;
    int year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    if (year < 100 || year > 9999)   // outside what the date can be shown as
        return "-";
    return StringPrintf("%02i.%02i.%04i", static_cast<int>(day), static_cast<int>(month), year);
}

std::string DeviceInfoText(const CDeviceInfo& info)
{
    const bool app = info.applicationRead;
    std::string text;
    auto line = [&text](const char* label, const std::string& value) {
        text += label;
        text += value;
        text += "\r\n";
    };
    line("Тип устройства\t\t\t: ", ModelText(info.modelCode));
    line("Заводской номер\t\t\t: ", app ? SerialText(info.serialNumber) : "?");
    line("Дата производства (дд.мм.гггг)\t: ", app ? DateText(info.productionDate) : "?");
    text += "Версии \"железа\"\r\n";
    line("\tATmega\t\t\t: ", VersionText(info.hwVersionAtmega));
    line("\tBlackfin\t\t\t: ", VersionText(info.hwVersionBlackfin));
    text += "Версии загрузчиков\r\n";
    line("\tATmega\t\t\t: ", VersionText(info.loaderVersionAtmega));
    line("\tBlackfin\t\t\t: ", VersionText(info.loaderVersionBlackfin));
    text += "Версии рабочих программ\r\n";
    line("\tATmega\t\t\t: ", app ? VersionText(info.appVersionAtmega) : "?");
    line("\tBlackfin\t\t\t: ", app ? VersionText(info.appVersionBlackfin) : "?");
    line("\tBlackfin (расш.)\t\t: ", app ? VersionText(info.appVersionBlackfinExt) : "?");
    return text;
}
