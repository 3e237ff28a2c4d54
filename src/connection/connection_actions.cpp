#include "connection/connection_actions.h"

#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "resources/strings.h"
#include "transport/com_device.h"

namespace {

constexpr unsigned kNotFoundId = 286;

}  // namespace

std::string CheckLink(CPortSystem& ports, CRunHost& host, const CConnectSettings& settings)
{
    CComDevice device(ports);
    OpenComPort(device, settings.portName, BaudFromCode(settings.speedCode), settings.timeout);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    unsigned char model = 0;
    if (Probe(protocol, &model))
        return ModelText(model);
    return LoadText(kNotFoundId);
}

void ChangeSpeed(CPortSystem& ports, CRunHost& host, const CConnectSettings& settings,
                 int oldCode, int newCode)
{
    CComDevice device(ports);
    OpenComPort(device, settings.portName, BaudFromCode(oldCode), settings.timeout);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    SetSpeed(protocol, newCode, false);
}

void ReadDeviceInfoAt(CPortSystem& ports, CRunHost& host, const CConnectSettings& settings,
                      CDeviceInfo& info)
{
    CComDevice device(ports);
    OpenComPort(device, settings.portName, BaudFromCode(settings.speedCode), settings.timeout);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    ReadDeviceInfo(protocol, info);
}
