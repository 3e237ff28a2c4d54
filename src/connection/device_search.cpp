#include "connection/device_search.h"

#include "base/host.h"
#include "base/strings.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

namespace {


void SearchPort(CPortSystem& ports, CRunHost& host, CSearchView& view, int row)
{
    CComDevice device(ports, host);
    OpenComPort(device, view.PortName(row), BaudFromCode(kDefaultSpeedCode), kSearchTimeoutMs);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    view.SetStateText(row, LoadText(IDS_SEARCHING));
    host.PumpMessages();
    for (int code = 0; code <= kSearchSpeedCodeLast; ++code) {
        view.SetSpeedText(row, StringPrintf("%lu", static_cast<unsigned long>(BaudFromCode(code))));
        host.PumpMessages();
        if (!device.CanMakeSpeed(BaudFromCode(code)))
            continue;
        device.SetBaudRate(BaudFromCode(code));
        unsigned char model = 0;
        if (Probe(protocol, &model)) {
            view.SetStateText(row, ModelText(model));
            view.SetRowCode(row, code);
            return;
        }
    }
    view.SetStateText(row, LoadText(IDS_NOT_FOUND));
}

}  // namespace

void SearchDevices(CPortSystem& ports, CRunHost& host, CSearchView& view)
{
    try {
        const int rows = view.RowCount();
        for (int row = 0; row < rows; ++row) {
            view.SetSpeedText(row, "");
            view.SetStateText(row, "");
            view.SetRowCode(row, -1);
        }
        host.PumpMessages();
        for (int row = 0; row < rows; ++row) {
            if (!view.IsTicked(row))
                continue;
            view.EnsureVisible(row);
            try {
                SearchPort(ports, host, view, row);
            } catch (const object_description& failure) {
                view.SetStateText(row, failure.Text());
            } catch (...) {
                view.SetStateText(row, LoadText(IDS_SEARCH_STOPPED));
                ReportException(host, 0, view.OwnerWindow());
                return;
            }
        }
    } catch (...) {
        ReportException(host, 0, view.OwnerWindow());
    }
}
