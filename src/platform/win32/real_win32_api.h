#pragma once

#include "platform/win32/portable/win32_api.h"
#include "platform/win32/win32_main_loop.h"

namespace kestrove::platform::win32 {

// The Win32 layer over the real system calls; hook callbacks are posted to
// `loop`, so that they run as turns of their own.
std::unique_ptr<Win32Api> makeRealWin32Api(Win32MainLoop& loop);

}  // namespace kestrove::platform::win32
