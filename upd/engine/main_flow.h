// One update run: the manifest, the downloads, the write, the retirements,
// the new "ver.dat", and the start of the game on every path.
#pragma once

#include "compat/platform.h"

int RunUpdate(HINSTANCE instance);
