#pragma once

#include "platform/win32/portable/win32_api.h"

namespace kestrove::platform::win32 {

// The title bar element (UIA_TitleBarControlTypeId) among the window's
// UI Automation children, for apps that draw their own caption over the
// client area; the HRESULT that came instead where there is none, or no
// UI Automation (Wine registers no CUIAutomation). Main thread only.
RectResult uiAutomationTitleBar(WindowHandle window);

}  // namespace kestrove::platform::win32
