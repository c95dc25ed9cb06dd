#pragma once

#include <cstdint>
#include <optional>

#include "platform/platform.h"
#include "platform/win32/portable/win32_api.h"

namespace kestrove::platform::win32 {

// Whether a top-level window is one a user would call a window of the
// application, not one of the hidden helpers every Win32 process owns (the
// IME window, OLE's message window, message-only and tool windows, and
// windows DWM keeps cloaked, such as suspended UWP frames).
bool isApplicationWindow(const WindowStyles& styles, bool cloaked);

// The visible frame: DWM's extended frame bounds, which leave out the
// invisible resize borders of Windows 10 and 11, else the window rect.
std::optional<PixelRect> visibleFrame(Win32Api& api, WindowHandle window);

// The frame the window is described by: from the visible frame's top down
// over the client area's width and to its bottom, so that the frame is title
// bar plus content and the content is the client area exactly (the side and
// bottom borders, 4 px in a classic frame, are not content). The visible
// frame itself while the client area does not lie inside it (a minimized
// window's client rect is empty and far off screen).
std::optional<PixelRect> windowFrame(Win32Api& api, WindowHandle window);

// The rect to hand SetWindowPos so that the visible frame lands on
// `target`: the invisible borders (window rect minus visible frame) added
// back on each side.
PixelRect windowRectFor(const PixelRect& target, const PixelRect& windowRect, const PixelRect& visible);

// Whether a window covers a whole monitor with no caption.
bool isFullScreen(const WindowStyles& styles, const PixelRect& frame, const std::vector<Monitor>& monitors);

// Whether the user can move or resize it: not while maximized or minimized;
// resizing also needs the sizing border.
bool canMove(const WindowStyles& styles, bool iconic, bool zoomed);
bool canResize(const WindowStyles& styles, bool iconic, bool zoomed);

// A failed call's GetLastError as an Accessibility code: a window another
// integrity level protects (UIPI) cannot be changed from here, a destroyed
// one is an invalid element, anything else a plain failure.
std::int32_t axErrorFor(std::uint32_t lastError);

}  // namespace kestrove::platform::win32
