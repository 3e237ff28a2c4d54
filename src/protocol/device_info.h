// The device information record of a scanner and its text forms.
#pragma once

#include <cstdint>
#include <string>

class CScannerProtocol;

constexpr uint32_t kFactoryBlockAddress = 0xFD0000;
constexpr unsigned kFactoryBlockSize = 8;
constexpr uint32_t kSerialNotSet = 0xFFFFFFFFu;
constexpr uint64_t kInvalidFileTime = ~uint64_t(0);

struct CDeviceInfo {
    uint8_t modelCode = 0;
    uint32_t serialNumber = kSerialNotSet;
    uint64_t productionDate = kInvalidFileTime;   // 100 ns units since 1601-01-01
    uint16_t factoryWord = 0;
    uint16_t hwVersionAtmega = 0;
    uint16_t hwVersionBlackfin = 0;
    uint16_t loaderVersionAtmega = 0;
    uint16_t loaderVersionBlackfin = 0;
    uint16_t appVersionAtmega = 0;
    uint16_t appVersionBlackfin = 0;
    uint16_t appVersionBlackfinExt = 0;
    bool applicationRead = false;
};

// Reads the whole record, visiting both modes and leaving the scanner in the mode it was
// found in. Failures of the loader part are thrown; the application part fails quietly.
void ReadDeviceInfo(CScannerProtocol& protocol, CDeviceInfo& info);

// The versions query for the processor the mode register selects: in the loader its
// loader and hardware versions, in the working program the program's two words. False
// when the scanner does not answer it; nothing is thrown.
bool ReadProcessorVersions(CScannerProtocol& protocol, uint16_t& first, uint16_t& second);

// Reads only the serial number; false when the scanner runs its loader or a command fails.
bool ReadSerialNumber(CScannerProtocol& protocol, uint32_t& serial, bool switchFirst);

// The version word of the program the Blackfin runs (the working program's version as the
// versions query gives it with bit 0.5 clear). False when the scanner is not in its
// working program or does not tell. The processor selection is written only when the
// ATmega was selected, and is put back after the read.
bool ReadBlackfinProgramVersion(CScannerProtocol& protocol, uint16_t& version);

std::string ModelText(unsigned modelCode);
std::string VersionText(uint16_t version);
std::string SerialText(uint32_t serial);
std::string DateText(uint64_t fileTime);
std::string DeviceInfoText(const CDeviceInfo& info);

// MS-DOS date (bits 0-4 day, 5-8 month, 9-15 years since 1980) at 00:00 as a file time;
// kInvalidFileTime for an impossible date.
uint64_t DosDateToFileTime(uint16_t dosDate);
