// The main window.
#pragma once

#define IDD_TRELVO_DIALOG 102
#define IDC_MAIN_SETTINGS 1002
#define IDC_MAIN_EXIT 1003
#define IDC_MAIN_OPERATIONS 1004
#define IDC_MAIN_START 1011
#define IDC_MAIN_STOP 1012
#define IDC_MAIN_FIXED_SET 1024
// The system menu's command that opens the batch window (the system keeps the low four
// bits of a system command for itself).
#define IDM_BATCH_UPDATE 0x0010
