#pragma once

// xcb/xkb.h names a struct member `explicit`, which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
