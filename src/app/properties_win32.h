// The settings sheet: the connection page and the firmware page over copies of the
// main window's settings. The caller fills the pages' values, runs the sheet and, on
// OK, takes the values back.
#pragma once

#include "app/firmware_page_win32.h"
#include "connection/connect_page_win32.h"

class CPortSystem;

class CProperties {
public:
    CProperties(CRunHost& host, CPortSystem& ports) : connect(host, ports), firmware(host) {}

    // True when the sheet ended with OK. A locked sheet shows the settings read-only,
    // says so in its caption, and never ends with OK.
    bool DoModal(HWND parent);

    bool locked = false;
    CConnectPage connect;
    CFirmwarePage firmware;
};
