#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/portable/win32_api.h"

namespace kestrove::platform::win32 {

// The notifications the backend gives, by their Accessibility names.
inline const std::string kCreated = "AXWindowCreated";
inline const std::string kMoved = "AXWindowMoved";
inline const std::string kResized = "AXWindowResized";
inline const std::string kDestroyed = "AXUIElementDestroyed";

// A window notification in the Accessibility names, for the window's
// process.
struct WindowNotice {
  std::uint32_t pid = 0;
  WindowHandle window = 0;
  std::string notification;
  bool operator==(const WindowNotice&) const = default;
};

// WinEvents as window notifications. Windows sends SHOW, LOCATIONCHANGE,
// DESTROY, HIDE and the minimize events; Wine sends only CREATE and FOCUS,
// so a window is also taken up when one of those names it. A window is
// created once it is an application window; moves and resizes are told
// apart by comparing its visible frame with the one last seen, and none is
// told while it is minimized (Windows parks it at -32000); hidden or
// destroyed, it is closed.
class EventTranslation {
 public:
  EventTranslation(Win32Api& api, std::uint32_t ownPid) : api_(api), ownPid_(ownPid) {}

  std::vector<WindowNotice> translate(const WinEvent& event);
  // Takes up the windows a process has now, so that those already open
  // are not reported as created and can be reported as moved or closed.
  void adopt(std::uint32_t pid);

 private:
  struct Known {
    std::uint32_t pid = 0;
    PixelRect frame;
    bool minimized = false;
  };

  bool isApplicationWindow(WindowHandle window);
  void takeUp(WindowHandle window, std::uint32_t pid, std::vector<WindowNotice>& out);
  void closed(WindowHandle window, std::vector<WindowNotice>& out);
  void located(WindowHandle window, std::vector<WindowNotice>& out);

  Win32Api& api_;
  std::uint32_t ownPid_;
  std::map<WindowHandle, Known> known_;
};

}  // namespace kestrove::platform::win32
