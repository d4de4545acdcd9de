// Resource ids of the updater.
#pragma once

#define IDD_PROGRESS 101
#define IDI_UPDATER 102
#define IDC_PROGRESS_BAR 1001
#define IDC_STATUS_TEXT 1003
