#include "upd/engine/service.h"

uint32_t serviceAddr = 0xFFFFFFFFu;
