// The update service: its names, fixed in the program, and its address.
#pragma once

#include <cstdint>

// The host that answers the version query.
inline constexpr char kUpdateServiceHost[] = "update.zetarune.com";
// The site named in the box shown when the service cannot be reached.
inline constexpr char kUpdateServiceSite[] = "zetarune.com";

// The service's IPv4 address in network byte order, set by StartNetwork;
// all ones when its name did not resolve.
extern uint32_t serviceAddr;
