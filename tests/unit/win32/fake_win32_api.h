#pragma once

// A desktop in memory behind the Win32 layer, with the failure shapes Wine
// and Windows show: DWM and UI Automation answering E_NOTIMPL, hung and
// protected windows, windows destroyed between two calls, and WinEvents
// delivered only when a test sends them.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/portable/win32_api.h"

namespace kestrove::platform::win32::testing {

struct FakeWindow {
  std::uint32_t pid = 0;
  WindowStyles styles{style::kCaption | style::kThickFrame, 0, "Notepad", true, false, false};
  PixelRect rect;  // GetWindowRect
  // DWM's extended frame bounds; none answers E_NOTIMPL, as under Wine.
  std::optional<PixelRect> dwmFrame;
  std::optional<PixelRect> client;    // on screen
  std::optional<PixelRect> titleBar;  // UI Automation; none: E_NOTIMPL
  bool cloaked = false;
  bool iconic = false;
  bool zoomed = false;
  bool hung = false;
  // SetWindowPos fails with this error (5: another integrity level).
  std::uint32_t refuseWith = 0;
};

class FakeWin32Api : public Win32Api {
 public:
  std::uint32_t ownPid = 1;
  std::vector<Process> processList;
  std::map<std::uint32_t, std::string> userModelIds;
  // In Z order, topmost first.
  std::vector<std::pair<WindowHandle, FakeWindow>> windows;
  std::vector<Monitor> monitorList;
  WindowHandle foreground = 0;
  // Runs inside the next call that names a window, once: a window closed
  // between two calls of one command.
  std::function<void()> beforeNextWindowCall;
  std::vector<std::string> calls;

  FakeWindow* find(WindowHandle h) {
    for (auto& [handle, w] : windows)
      if (handle == h) return &w;
    return nullptr;
  }
  void destroy(WindowHandle h) {
    std::erase_if(windows, [h](const auto& entry) { return entry.first == h; });
  }

  std::function<void(const WinEvent&)> winEvents;
  std::function<void(const LowLevelKey&)> keys;
  std::map<std::uint32_t, std::function<void()>> exitWaits;
  bool refuseHooks = false;

  void send(std::uint32_t event, WindowHandle window, std::int32_t objectId = winevent::kObjidWindow) {
    FakeWindow* w = find(window);
    if (winEvents) winEvents(WinEvent{event, window, objectId, 0, w ? w->pid : 0});
  }

  std::uint32_t currentProcessId() override { return ownPid; }
  void osVersion(std::int64_t& major, std::int64_t& minor, std::int64_t& build) override {
    major = 10;
    minor = 0;
    build = 22631;
  }
  std::vector<TopLevel> topLevelWindows() override {
    std::vector<TopLevel> list;
    for (auto& [h, w] : windows) list.push_back(TopLevel{h, w.pid});
    return list;
  }
  std::vector<Process> processes() override { return processList; }
  std::optional<std::string> applicationUserModelId(std::uint32_t pid) override {
    auto it = userModelIds.find(pid);
    if (it == userModelIds.end()) return std::nullopt;
    return it->second;
  }
  FakeWindow* touch(WindowHandle h) {
    if (beforeNextWindowCall) {
      auto hook = std::move(beforeNextWindowCall);
      beforeNextWindowCall = nullptr;
      hook();
    }
    return find(h);
  }
  bool windowExists(WindowHandle h) override { return touch(h) != nullptr; }
  WindowStyles windowStyles(WindowHandle h) override {
    FakeWindow* w = touch(h);
    return w ? w->styles : WindowStyles{};
  }
  std::int32_t cloaked(WindowHandle h, bool& isCloaked) override {
    FakeWindow* w = touch(h);
    isCloaked = w && w->cloaked;
    return w && w->dwmFrame ? 0 : kENotImpl;
  }
  std::string windowText(WindowHandle) override { return {}; }
  std::optional<PixelRect> windowRect(WindowHandle h) override {
    FakeWindow* w = touch(h);
    if (!w) return std::nullopt;
    return w->rect;
  }
  RectResult extendedFrameBounds(WindowHandle h) override {
    FakeWindow* w = touch(h);
    if (!w || !w->dwmFrame) return RectResult{kENotImpl, {}};
    return RectResult{0, *w->dwmFrame};
  }
  std::optional<PixelRect> clientRectOnScreen(WindowHandle h) override {
    FakeWindow* w = touch(h);
    if (!w) return std::nullopt;
    return w->client;
  }
  bool isIconic(WindowHandle h) override {
    FakeWindow* w = touch(h);
    return w && w->iconic;
  }
  bool isZoomed(WindowHandle h) override {
    FakeWindow* w = touch(h);
    return w && w->zoomed;
  }
  WindowHandle foregroundWindow() override { return foreground; }
  bool answersWithin(WindowHandle h, std::uint32_t) override {
    FakeWindow* w = touch(h);
    return w && !w->hung;
  }
  CallResult setWindowPos(WindowHandle h, std::int32_t x, std::int32_t y, std::int32_t width,
                          std::int32_t height, bool move, bool size) override {
    calls.push_back("SetWindowPos " + std::to_string(x) + " " + std::to_string(y) + " " +
                    std::to_string(width) + " " + std::to_string(height) + (move ? " move" : "") +
                    (size ? " size" : ""));
    FakeWindow* w = touch(h);
    if (!w) return CallResult{false, kErrorInvalidWindowHandle};
    if (w->refuseWith) return CallResult{false, w->refuseWith};
    // Borders stay as they were: the DWM frame and client move with it.
    PixelRect next = w->rect;
    if (move) {
      next.right += x - next.left;
      next.bottom += y - next.top;
      next.left = x;
      next.top = y;
    }
    if (size) {
      next.right = next.left + width;
      next.bottom = next.top + height;
    }
    auto shift = [&](PixelRect& r) {
      r.left += next.left - w->rect.left;
      r.top += next.top - w->rect.top;
      r.right += next.right - w->rect.right;
      r.bottom += next.bottom - w->rect.bottom;
    };
    if (w->dwmFrame) shift(*w->dwmFrame);
    if (w->client) shift(*w->client);
    w->rect = next;
    return CallResult{true, 0};
  }
  CallResult showMinimized(WindowHandle h, bool minimized) override {
    FakeWindow* w = touch(h);
    if (!w) return CallResult{false, kErrorInvalidWindowHandle};
    w->iconic = minimized;
    return CallResult{true, 0};
  }
  std::vector<Monitor> monitors() override { return monitorList; }
  RectResult titleBarBounds(WindowHandle h) override {
    FakeWindow* w = touch(h);
    if (!w || !w->titleBar) return RectResult{kENotImpl, {}};
    return RectResult{0, *w->titleBar};
  }
  WindowHandle rootWindow(WindowHandle h) override { return h & ~WindowHandle(0xF); }
  Registration hookWinEvents(std::function<void(const WinEvent&)> onEvent) override {
    if (refuseHooks) return nullptr;
    winEvents = std::move(onEvent);
    return Registration(new int(0), [this](int* p) {
      winEvents = nullptr;
      delete p;
    });
  }
  Registration waitForExit(std::uint32_t pid, std::function<void()> onExit) override {
    exitWaits[pid] = std::move(onExit);
    return Registration(new int(0), [this, pid](int* p) {
      exitWaits.erase(pid);
      delete p;
    });
  }
  Registration hookKeyboard(std::function<void(const LowLevelKey&)> onKey) override {
    if (refuseHooks) return nullptr;
    keys = std::move(onKey);
    return Registration(new int(0), [this](int* p) {
      keys = nullptr;
      delete p;
    });
  }
};

}  // namespace kestrove::platform::win32::testing
