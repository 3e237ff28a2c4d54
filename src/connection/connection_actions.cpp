#include "connection/connection_actions.h"

#include "base/strings.h"
#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

std::optional<unsigned char> CheckLink(CPortSystem& ports, CRunHost& host,
                                       const CConnectSettings& settings)
{
    CComDevice device(ports, host);
    OpenComPort(device, settings.portName, BaudFromCode(settings.speedCode), settings.timeout);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    unsigned char model = 0;
    if (Probe(protocol, &model))
        return model;
    return std::nullopt;
}

std::string LinkText(std::optional<unsigned char> model)
{
    return model ? ModelText(*model) : std::string(LoadText(IDS_NOT_FOUND));
}

void ChangeSpeed(CPortSystem& ports, CRunHost& host, const CConnectSettings& settings,
                 int oldCode, int newCode)
{
    CComDevice device(ports, host);
    OpenComPort(device, settings.portName, BaudFromCode(oldCode), settings.timeout);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    SetSpeed(protocol, newCode, false);
}

void ReadDeviceInfoAt(CPortSystem& ports, CRunHost& host, const CConnectSettings& settings,
                      CDeviceInfo& info)
{
    CComDevice device(ports, host);
    OpenComPort(device, settings.portName, BaudFromCode(settings.speedCode), settings.timeout);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    ReadDeviceInfo(protocol, info);
}
