// The firmware page of the settings sheet.
#pragma once

#define IDD_FIRMWARE_PAGE 132
#define IDC_FIRMWARE_BROWSE 1005
#define IDC_FIRMWARE_FILE 1006
#define IDC_FIRMWARE_MODULES 1017
#define IDC_FIRMWARE_SKIP_CURRENT 1018
