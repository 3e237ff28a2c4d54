// The connection page's actions on the scanner at the page's settings, without windows.
// Each action opens its own port for the action only and closes it when it ends.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "protocol/device_info.h"

class CPortSystem;
class CRunHost;

struct CConnectSettings {
    std::string portName;
    int speedCode = 2;        // -1 (nothing chosen) opens the port at 9600
    unsigned timeout = 3000;  // ms
};

// The model code of the scanner answering at the settings; nothing when none answers.
// Port failures throw CComDevice::CException, scanner errors test_exception.
std::optional<unsigned char> CheckLink(CPortSystem& ports, CRunHost& host,
                                       const CConnectSettings& settings);
// What a link check shows: the model text, or "Не обнаружено".
std::string LinkText(std::optional<unsigned char> model);

// Moves the scanner, expected at oldCode, and the port to newCode.
void ChangeSpeed(CPortSystem& ports, CRunHost& host, const CConnectSettings& settings,
                 int oldCode, int newCode);

// Reads the device information of the scanner at the settings.
void ReadDeviceInfoAt(CPortSystem& ports, CRunHost& host, const CConnectSettings& settings,
                      CDeviceInfo& info);
