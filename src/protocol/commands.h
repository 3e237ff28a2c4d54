// Procedures built on the command set: probing, speed search and change, mode register.
#pragma once

#include <cstdint>

class CScannerProtocol;

constexpr int MODE_APPLICATION = 0;
constexpr int MODE_LOADER = 1;

constexpr int kDefaultSpeedCode = 2;      // 9600
constexpr int kAssumedSpeedCode = 4;      // what a scanner without the speed command runs at
// Speed searches try codes 0..6 (2400-115200) and, when nothing answered there, the fast
// codes 7..9 (230400-921600); a speed the port cannot make is passed by.
constexpr int kSearchSpeedCodeLast = 9;

unsigned BaudFromCode(int code);
int CodeFromBaud(unsigned baud);

bool Probe(CScannerProtocol& protocol, unsigned char* modelCode = nullptr);
int GetSpeed(CScannerProtocol& protocol, bool assumeDefault);
void SetSpeed(CScannerProtocol& protocol, int code, bool tolerateUnsupported);
bool FindSpeed(CScannerProtocol& protocol, const int* preferred, unsigned count);
bool IsInMode(const unsigned char reg[4], int mode);
void WriteModeRegisterChecked(CScannerProtocol& protocol, const unsigned char reg[4]);
