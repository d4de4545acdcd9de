// State shared by the steps of one update run.
#pragma once

#include "upd/engine/update_session.h"

// Set at the start of update mode; cleared by any failed, cancelled or
// corrupt package. While clear, no game file and no new "ver.dat" is written.
extern unsigned char updateOk;

// The memory that one package's response and then its unpacked file use.
constexpr int kPackageBlockSize = 10000000;
