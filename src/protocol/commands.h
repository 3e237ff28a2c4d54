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
// The speed every loader writes its memory at (115200); a faster transfer is asked for
// and proved, and falls back to this one.
constexpr int kTransferSpeedCode = 6;

// How the transfer's speed was reached.
enum class TransferSpeedOutcome {
    Taken,      // scanner and port run at the speed asked (115200 included)
    Kept,       // the port cannot make it or the scanner refused it: 115200
    FellBack,   // the scanner took it but failed the check there; found again, 115200
    Lost,       // the scanner failed the check and answers at none of the speeds looked at
};
struct CTransferSpeed {
    int code;   // the speed code the transfer runs at; -1 when the scanner was lost
    TransferSpeedOutcome outcome;
};

unsigned BaudFromCode(int code);
int CodeFromBaud(unsigned baud);

bool Probe(CScannerProtocol& protocol, unsigned char* modelCode = nullptr);
int GetSpeed(CScannerProtocol& protocol, bool assumeDefault);
void SetSpeed(CScannerProtocol& protocol, int code, bool tolerateUnsupported);
bool FindSpeed(CScannerProtocol& protocol, const int* preferred, unsigned count);
// Moves scanner and port to a transfer speed code (6..9) and proves the link there with
// a short probe before anything is written. A speed the port cannot make is not asked
// for, and a refusal keeps 115200 (both traced). After a failed probe the scanner is
// looked for at the new speed, the one it had before and 115200, with short probes, and
// moved to 115200 (Lost when it answers at none of them: it has to be switched off and
// on). Never asks for the fast speed twice.
CTransferSpeed SwitchToTransferSpeed(CScannerProtocol& protocol, int code);
bool IsInMode(const unsigned char reg[4], int mode);
void WriteModeRegisterChecked(CScannerProtocol& protocol, const unsigned char reg[4]);
