// The one place that decides where platform calls come from: the Windows
// headers in the Windows build, our own compat layer in the host build.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#else
#include "compat/win32/base.h"
#include "compat/win32/files.h"
#include "compat/win32/registry.h"
#include "compat/win32/ui.h"
#include "compat/win32/shell.h"
#include "compat/win32/process.h"
#include "compat/win32/net.h"
#endif
