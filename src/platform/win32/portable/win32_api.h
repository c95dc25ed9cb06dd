#pragma once

// The Win32 calls the Windows backend makes, one virtual function per call
// group, in plain types, so that everything above it builds without
// <windows.h> and is tested on every host against a fake.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrove::platform::win32 {

// HWND as a number: the window number the protocol reports.
using WindowHandle = std::uint64_t;

// Win32 error numbers and HRESULTs the translation tells apart.
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;
inline constexpr std::int32_t kENotImpl = static_cast<std::int32_t>(0x80004001u);

// A RECT: left/top inclusive, right/bottom exclusive, desktop pixels.
struct PixelRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  std::int32_t width() const { return right - left; }
  std::int32_t height() const { return bottom - top; }
  bool operator==(const PixelRect&) const = default;
};

struct Monitor {
  PixelRect bounds;
  PixelRect work;
  bool primary = false;
  // GetDpiForMonitor(MDT_EFFECTIVE_DPI); none when the call failed.
  std::optional<std::uint32_t> dpi;
};

// A rect or the HRESULT that came instead (DwmGetWindowAttribute).
struct RectResult {
  std::int32_t hresult = 0;
  PixelRect rect;
};

// Window styles and the class name: what tells helper windows apart.
struct WindowStyles {
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::string className;
  bool visible = false;
  // GetParent(HWND) is HWND_MESSAGE or the window is message-only.
  bool messageOnly = false;
  // GetWindow(GW_OWNER) is set.
  bool owned = false;
};

// Window style bits, with the values <winuser.h> gives them.
namespace style {
inline constexpr std::uint32_t kCaption = 0x00C00000;
inline constexpr std::uint32_t kThickFrame = 0x00040000;
inline constexpr std::uint32_t kMaximizeBox = 0x00010000;
inline constexpr std::uint32_t kPopup = 0x80000000;
inline constexpr std::uint32_t kChild = 0x40000000;
inline constexpr std::uint32_t kExToolWindow = 0x00000080;
inline constexpr std::uint32_t kExAppWindow = 0x00040000;
inline constexpr std::uint32_t kExNoActivate = 0x08000000;
}  // namespace style

// The result of SetWindowPos: whether it succeeded and GetLastError after it.
struct CallResult {
  bool ok = false;
  std::uint32_t lastError = 0;
};

// A WinEvent as the hook hands it over, with the window's process
// (GetWindowThreadProcessId at delivery; 0 once the window is gone).
struct WinEvent {
  std::uint32_t event = 0;
  WindowHandle window = 0;
  std::int32_t objectId = 0;
  std::int32_t childId = 0;
  std::uint32_t pid = 0;
};

namespace winevent {
inline constexpr std::uint32_t kSystemForeground = 0x0003;
inline constexpr std::uint32_t kSystemMinimizeStart = 0x0016;
inline constexpr std::uint32_t kSystemMinimizeEnd = 0x0017;
inline constexpr std::uint32_t kObjectCreate = 0x8000;
inline constexpr std::uint32_t kObjectDestroy = 0x8001;
inline constexpr std::uint32_t kObjectShow = 0x8002;
inline constexpr std::uint32_t kObjectHide = 0x8003;
inline constexpr std::uint32_t kObjectFocus = 0x8005;
inline constexpr std::uint32_t kObjectLocationChange = 0x800B;
inline constexpr std::int32_t kObjidWindow = 0;
inline constexpr std::int32_t kChildidSelf = 0;
}  // namespace winevent

// A WH_KEYBOARD_LL notice: the virtual key and whether it went down
// (WM_KEYDOWN, WM_SYSKEYDOWN) or up.
struct LowLevelKey {
  std::uint32_t virtualKey = 0;
  bool down = false;
};
inline constexpr std::uint32_t kVirtualKeyEscape = 0x1B;

// A hook or wait in place until the last copy is released; null when the
// platform refused it.
using Registration = std::shared_ptr<void>;

class Win32Api {
 public:
  virtual ~Win32Api() = default;

  // GetCurrentProcessId.
  virtual std::uint32_t currentProcessId() = 0;
  // RtlGetVersion: major, minor, build.
  virtual void osVersion(std::int64_t& major, std::int64_t& minor, std::int64_t& build) = 0;

  // EnumWindows + GetWindowThreadProcessId: every top-level window with its
  // process, in Z order.
  struct TopLevel {
    WindowHandle window = 0;
    std::uint32_t pid = 0;
  };
  virtual std::vector<TopLevel> topLevelWindows() = 0;
  // Every process with its executable's file name (the toolhelp snapshot's
  // szExeFile, as UTF-8), so an application with no window still runs.
  struct Process {
    std::uint32_t pid = 0;
    std::string exeFile;
  };
  virtual std::vector<Process> processes() = 0;
  // GetApplicationUserModelId; none where the platform has none (E_NOTIMPL
  // or unpackaged).
  virtual std::optional<std::string> applicationUserModelId(std::uint32_t pid) = 0;

  // IsWindow.
  virtual bool windowExists(WindowHandle window) = 0;
  // GetWindowLongPtr styles, class name, IsWindowVisible, owner, parent.
  virtual WindowStyles windowStyles(WindowHandle window) = 0;
  // DwmGetWindowAttribute(DWMWA_CLOAKED): the HRESULT and the flag.
  virtual std::int32_t cloaked(WindowHandle window, bool& isCloaked) = 0;
  // GetWindowTextW as UTF-8.
  virtual std::string windowText(WindowHandle window) = 0;
  // GetWindowRect.
  virtual std::optional<PixelRect> windowRect(WindowHandle window) = 0;
  // DwmGetWindowAttribute(DWMWA_EXTENDED_FRAME_BOUNDS).
  virtual RectResult extendedFrameBounds(WindowHandle window) = 0;
  // GetClientRect + ClientToScreen.
  virtual std::optional<PixelRect> clientRectOnScreen(WindowHandle window) = 0;
  // IsIconic, IsZoomed.
  virtual bool isIconic(WindowHandle window) = 0;
  virtual bool isZoomed(WindowHandle window) = 0;
  // GetForegroundWindow.
  virtual WindowHandle foregroundWindow() = 0;
  // IsHungAppWindow, then SendMessageTimeout(WM_NULL) with this bound: true
  // when the window answers in time.
  virtual bool answersWithin(WindowHandle window, std::uint32_t milliseconds) = 0;
  // SetWindowPos(..., SWP_NOZORDER | SWP_NOACTIVATE [| SWP_NOMOVE] [| SWP_NOSIZE]).
  virtual CallResult setWindowPos(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width,
                                  std::int32_t height, bool move, bool size) = 0;
  // ShowWindow(SW_MINIMIZE / SW_RESTORE).
  virtual CallResult showMinimized(WindowHandle window, bool minimized) = 0;

  // EnumDisplayMonitors + GetMonitorInfoW + GetDpiForMonitor.
  virtual std::vector<Monitor> monitors() = 0;
  // UI Automation: the title bar element's bounding rectangle
  // (UIA_TitleBarControlTypeId) or the HRESULT that came instead.
  virtual RectResult titleBarBounds(WindowHandle window) = 0;
  // GetAncestor(GA_ROOT): the top-level window a child belongs to.
  virtual WindowHandle rootWindow(WindowHandle window) = 0;

  // Callbacks below run on the thread that runs the main loop, which pumps
  // the messages hooks deliver through.
  // SetWinEventHook(EVENT_MIN, EVENT_MAX, WINEVENT_OUTOFCONTEXT) for every
  // process; this process's own events are left to the caller to filter
  // (WINEVENT_SKIPOWNPROCESS suppresses every event under Wine).
  virtual Registration hookWinEvents(std::function<void(const WinEvent&)> onEvent) = 0;
  // OpenProcess(SYNCHRONIZE) and a wait on the handle in the main loop;
  // null when the process cannot be opened (gone already, or protected).
  virtual Registration waitForExit(std::uint32_t pid, std::function<void()> onExit) = 0;
  // SetWindowsHookEx(WH_KEYBOARD_LL).
  virtual Registration hookKeyboard(std::function<void(const LowLevelKey&)> onKey) = 0;
};

}  // namespace kestrove::platform::win32
