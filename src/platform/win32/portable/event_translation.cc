#include "platform/win32/portable/event_translation.h"

#include "platform/win32/portable/window_shapes.h"

namespace kestrove::platform::win32 {

bool EventTranslation::isApplicationWindow(WindowHandle window) {
  if (!api_.windowExists(window)) return false;
  bool cloaked = false;
  if (api_.cloaked(window, cloaked) != 0) cloaked = false;
  return win32::isApplicationWindow(api_.windowStyles(window), cloaked);
}

void EventTranslation::adopt(std::uint32_t pid) {
  for (const Win32Api::TopLevel& top : api_.topLevelWindows()) {
    if (top.pid != pid || known_.count(top.window) || !isApplicationWindow(top.window)) continue;
    std::vector<WindowNotice> ignored;
    takeUp(top.window, pid, ignored);
  }
}

void EventTranslation::takeUp(WindowHandle window, std::uint32_t pid, std::vector<WindowNotice>& out) {
  Known known;
  known.pid = pid;
  known.minimized = api_.isIconic(window);
  if (auto frame = windowFrame(api_, window)) known.frame = *frame;
  known_[window] = known;
  out.push_back(WindowNotice{pid, window, kCreated});
}

void EventTranslation::closed(WindowHandle window, std::vector<WindowNotice>& out) {
  auto it = known_.find(window);
  if (it == known_.end()) return;
  out.push_back(WindowNotice{it->second.pid, window, kDestroyed});
  known_.erase(it);
}

void EventTranslation::located(WindowHandle window, std::vector<WindowNotice>& out) {
  auto it = known_.find(window);
  if (it == known_.end()) return;
  Known& known = it->second;
  if (known.minimized || api_.isIconic(window)) return;
  auto frame = windowFrame(api_, window);
  if (!frame) return;
  bool moved = frame->left != known.frame.left || frame->top != known.frame.top;
  bool resized = frame->width() != known.frame.width() || frame->height() != known.frame.height();
  known.frame = *frame;
  if (moved) out.push_back(WindowNotice{known.pid, window, kMoved});
  if (resized) out.push_back(WindowNotice{known.pid, window, kResized});
}

std::vector<WindowNotice> EventTranslation::translate(const WinEvent& event) {
  std::vector<WindowNotice> out;
  // Focus names the focused object (a client area, a control) rather than
  // the window; every other event is about the window itself or nothing.
  const bool focus = event.event == winevent::kObjectFocus;
  if (!focus && (event.objectId != winevent::kObjidWindow || event.childId != winevent::kChildidSelf))
    return out;
  auto it = known_.find(event.window);
  std::uint32_t pid = event.pid ? event.pid : (it != known_.end() ? it->second.pid : 0);
  if (pid == ownPid_ || pid == 0) return out;
  switch (event.event) {
    case winevent::kObjectCreate:
    case winevent::kObjectShow:
    case winevent::kObjectFocus:
    case winevent::kSystemForeground: {
      WindowHandle window = focus ? api_.rootWindow(event.window) : event.window;
      if (window && !known_.count(window) && isApplicationWindow(window)) takeUp(window, pid, out);
      break;
    }
    case winevent::kObjectLocationChange:
      located(event.window, out);
      break;
    case winevent::kSystemMinimizeStart:
      if (it != known_.end()) it->second.minimized = true;
      break;
    case winevent::kSystemMinimizeEnd:
      if (it != known_.end()) {
        it->second.minimized = false;
        // Restored elsewhere than it was: told as a move or resize.
        located(event.window, out);
      }
      break;
    case winevent::kObjectHide:
      // Minimizing does not hide; a hidden window is gone from the list.
      if (it != known_.end() && !isApplicationWindow(event.window)) closed(event.window, out);
      break;
    case winevent::kObjectDestroy:
      closed(event.window, out);
      break;
    default:
      break;
  }
  return out;
}

}  // namespace kestrove::platform::win32
