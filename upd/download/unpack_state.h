// What the unpack step leaves for the write step.
#pragma once

#include "upd/engine/update_session.h"

extern int unpackedCount;
extern bool stagedFlags[kMaxPackages];
