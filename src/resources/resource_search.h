// The device search window.
#pragma once

#define IDD_DEVICE_SEARCH 150
#define IDC_SEARCH_PORTS 1046
#define IDC_SEARCH_START 1047
#define IDC_SEARCH_STOP 1048
