// Switching a scanner between its working program and its loader, and getting the link
// back afterwards: on an ordinary port by closing it and polling until the scanner
// answers in the new mode, on the scanner's USB CDC port by following its removal and
// re-arrival.
#pragma once

#include <cstdint>

class CScannerProtocol;

constexpr uint32_t kPortClosePauseMs = 300;
constexpr uint32_t kReconnectPollIntervalMs = 600;
constexpr uint32_t kReconnectLimitMs = 20000;
constexpr unsigned kUsbWaitRounds = 1000;
constexpr uint32_t kUsbWaitRoundMs = 100;
constexpr uint32_t kUsbReopenPauseMs = 1000;

// Returns when the scanner answers in the wanted mode (0 application, 1 loader); throws
// test_exception otherwise, stop_exception on Stop, CComDevice::CException when the port
// cannot be reopened. With force false a scanner already in the mode is left alone.
void SwitchMode(CScannerProtocol& protocol, int mode, bool force);

// One attempt to find the scanner in the wanted mode on the open port; a scanner found in
// the other mode is asked again to switch.
bool PollMode(CScannerProtocol& protocol, int mode);

// Sets bits 0.1 and 1.1 of a mode register to the mode, leaving every other bit.
void SetModeBits(unsigned char reg[4], int mode);
