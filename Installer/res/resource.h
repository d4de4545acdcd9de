// Resource ids of the setup program.
#pragma once

#define IDD_SELECT_DIRECTORY 101
#define IDI_SETUP 102
#define IDC_PATH_EDIT 1001
