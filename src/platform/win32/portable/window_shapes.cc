#include "platform/win32/portable/window_shapes.h"

namespace kestrove::platform::win32 {

bool isApplicationWindow(const WindowStyles& styles, bool cloaked) {
  if (!styles.visible || styles.messageOnly || cloaked) return false;
  if (styles.style & style::kChild) return false;
  // An app window is listed whatever else it says; a tool window never is.
  if (styles.exStyle & style::kExAppWindow) return true;
  if (styles.exStyle & style::kExToolWindow) return false;
  if (styles.className == "IME" || styles.className == "OleMainThreadWndClass" ||
      styles.className == "MSCTFIME UI")
    return false;
  return true;
}

std::optional<PixelRect> visibleFrame(Win32Api& api, WindowHandle window) {
  RectResult dwm = api.extendedFrameBounds(window);
  if (dwm.hresult == 0 && dwm.rect.width() > 0 && dwm.rect.height() > 0) return dwm.rect;
  return api.windowRect(window);
}

std::optional<PixelRect> windowFrame(Win32Api& api, WindowHandle window) {
  std::optional<PixelRect> frame = visibleFrame(api, window);
  if (!frame) return frame;
  std::optional<PixelRect> client = api.clientRectOnScreen(window);
  if (!client || client->width() <= 0 || client->height() <= 0) return frame;
  if (client->left < frame->left || client->right > frame->right || client->top < frame->top ||
      client->bottom > frame->bottom)
    return frame;
  return PixelRect{client->left, frame->top, client->right, client->bottom};
}

PixelRect windowRectFor(const PixelRect& target, const PixelRect& windowRect, const PixelRect& visible) {
  return PixelRect{target.left - (visible.left - windowRect.left),
                   target.top - (visible.top - windowRect.top),
                   target.right + (windowRect.right - visible.right),
                   target.bottom + (windowRect.bottom - visible.bottom)};
}

bool isFullScreen(const WindowStyles& styles, const PixelRect& frame, const std::vector<Monitor>& monitors) {
  if ((styles.style & style::kCaption) == style::kCaption) return false;
  for (const Monitor& m : monitors) {
    if (frame.left <= m.bounds.left && frame.top <= m.bounds.top && frame.right >= m.bounds.right &&
        frame.bottom >= m.bounds.bottom)
      return true;
  }
  return false;
}

bool canMove(const WindowStyles&, bool iconic, bool zoomed) { return !iconic && !zoomed; }

bool canResize(const WindowStyles& styles, bool iconic, bool zoomed) {
  return !iconic && !zoomed && (styles.style & style::kThickFrame) != 0;
}

std::int32_t axErrorFor(std::uint32_t lastError) {
  switch (lastError) {
    case kErrorAccessDenied:
      return ax::kCannotComplete;
    case kErrorInvalidWindowHandle:
      return ax::kInvalidUIElement;
    default:
      return ax::kFailure;
  }
}

}  // namespace kestrove::platform::win32
