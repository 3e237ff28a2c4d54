// The batch window: every connected scanner updated at once.
#pragma once

#define IDD_BATCH_UPDATE 160
#define IDC_BATCH_PORTS 1060
#define IDC_BATCH_SEARCH 1061
#define IDC_BATCH_START 1062
#define IDC_BATCH_STOP 1063
#define IDC_BATCH_AUTOMATIC 1064
