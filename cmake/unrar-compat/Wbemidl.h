// The UnRAR sources include this header by its Windows SDK spelling; the
// mingw-w64 headers are lower case and the cross build runs on a
// case-sensitive file system.
#pragma once
#include <wbemidl.h>
