#include "platform/win32/real_win32_api.h"

#include <windows.h>
// After <windows.h>, which they need.
#include <dwmapi.h>
#include <tlhelp32.h>

#include <map>

#include "platform/win32/ui_automation_title_bar.h"
#include "platform/win32/wide_text.h"

namespace kestrove::platform::win32 {
namespace {

constexpr std::uint32_t kTitleBarAnswerMilliseconds = 200;
// HRESULT_FROM_WIN32(ERROR_TIMEOUT).
constexpr std::int32_t kETimeout = static_cast<std::int32_t>(0x800705B4u);

HWND toHwnd(WindowHandle window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }
WindowHandle fromHwnd(HWND hwnd) { return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(hwnd)); }
PixelRect fromRect(const RECT& r) { return PixelRect{r.left, r.top, r.right, r.bottom}; }

template <typename Function>
Function systemFunction(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  if (!handle) handle = LoadLibraryW(module);
  if (!handle) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

// The hooks' procedures are plain functions: they find their callbacks
// here, by the registration they came with. Main thread only.
Win32MainLoop* gLoop = nullptr;
std::map<HWINEVENTHOOK, std::function<void(const WinEvent&)>> gWinEvents;
// One keyboard hook for however many monitors: the system calls every hook
// of ours for each key.
HHOOK gKeyboardHook = nullptr;
std::uint64_t gNextKeyMonitor = 0;
std::map<std::uint64_t, std::function<void(const LowLevelKey&)>> gKeys;

void CALLBACK winEventProc(HWINEVENTHOOK hook, DWORD event, HWND hwnd, LONG idObject, LONG idChild, DWORD,
                           DWORD) {
  if (!hwnd || !gLoop || !gWinEvents.count(hook)) return;
  WinEvent e;
  e.event = event;
  e.window = fromHwnd(hwnd);
  e.objectId = idObject;
  e.childId = idChild;
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  e.pid = pid;
  gLoop->post([hook, e] {
    // Unhooked meanwhile: nothing more is told.
    auto it = gWinEvents.find(hook);
    if (it != gWinEvents.end()) it->second(e);
  });
}

LRESULT CALLBACK keyboardProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && !gKeys.empty() && gLoop) {
    const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    LowLevelKey key{info->vkCode, wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN};
    for (const auto& [id, callback] : gKeys) {
      std::uint64_t target = id;
      gLoop->post([target, key] {
        auto it = gKeys.find(target);
        if (it != gKeys.end()) it->second(key);
      });
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class RealWin32Api : public Win32Api {
 public:
  explicit RealWin32Api(Win32MainLoop& loop) : loop_(loop) { gLoop = &loop; }

  std::uint32_t currentProcessId() override { return GetCurrentProcessId(); }

  void osVersion(std::int64_t& major, std::int64_t& minor, std::int64_t& build) override {
    // GetVersionEx lies to programs without a compatibility manifest entry.
    using RtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto get = systemFunction<RtlGetVersion>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (get && get(&info) == 0) {
      major = info.dwMajorVersion;
      minor = info.dwMinorVersion;
      build = info.dwBuildNumber;
    }
  }

  std::vector<TopLevel> topLevelWindows() override {
    std::vector<TopLevel> windows;
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
          DWORD pid = 0;
          GetWindowThreadProcessId(hwnd, &pid);
          reinterpret_cast<std::vector<TopLevel>*>(param)->push_back(TopLevel{fromHwnd(hwnd), pid});
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
  }

  std::vector<Process> processes() override {
    std::vector<Process> list;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return list;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
      list.push_back(Process{entry.th32ProcessID, toUtf8(entry.szExeFile)});
    CloseHandle(snapshot);
    return list;
  }

  std::optional<std::string> applicationUserModelId(std::uint32_t pid) override {
    using Get = LONG(WINAPI*)(HANDLE, UINT32*, PWSTR);
    static const auto get = systemFunction<Get>(L"kernel32.dll", "GetApplicationUserModelId");
    if (!get) return std::nullopt;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return std::nullopt;
    wchar_t id[130];  // APPLICATION_USER_MODEL_ID_MAX_LENGTH
    UINT32 length = sizeof id / sizeof id[0];
    LONG result = get(process, &length, id);
    CloseHandle(process);
    if (result != ERROR_SUCCESS || length == 0) return std::nullopt;
    return toUtf8(std::wstring_view(id, length - 1));
  }

  bool windowExists(WindowHandle window) override { return IsWindow(toHwnd(window)) != FALSE; }

  WindowStyles windowStyles(WindowHandle window) override {
    HWND hwnd = toHwnd(window);
    WindowStyles styles;
    styles.style = static_cast<std::uint32_t>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    styles.exStyle = static_cast<std::uint32_t>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    wchar_t name[256];
    int length = GetClassNameW(hwnd, name, 256);
    if (length > 0) styles.className = toUtf8(std::wstring_view(name, static_cast<std::size_t>(length)));
    styles.visible = IsWindowVisible(hwnd) != FALSE;
    styles.messageOnly = GetAncestor(hwnd, GA_PARENT) != GetDesktopWindow();
    styles.owned = GetWindow(hwnd, GW_OWNER) != nullptr;
    return styles;
  }

  std::int32_t cloaked(WindowHandle window, bool& isCloaked) override {
    DWORD value = 0;
    HRESULT hr = DwmGetWindowAttribute(toHwnd(window), DWMWA_CLOAKED, &value, sizeof value);
    isCloaked = SUCCEEDED(hr) && value != 0;
    return hr;
  }

  std::string windowText(WindowHandle window) override {
    wchar_t text[512];
    int length = GetWindowTextW(toHwnd(window), text, 512);
    return length > 0 ? toUtf8(std::wstring_view(text, static_cast<std::size_t>(length))) : std::string();
  }

  std::optional<PixelRect> windowRect(WindowHandle window) override {
    RECT r;
    if (!GetWindowRect(toHwnd(window), &r)) return std::nullopt;
    return fromRect(r);
  }

  RectResult extendedFrameBounds(WindowHandle window) override {
    RECT r{};
    HRESULT hr = DwmGetWindowAttribute(toHwnd(window), DWMWA_EXTENDED_FRAME_BOUNDS, &r, sizeof r);
    return RectResult{hr, fromRect(r)};
  }

  std::optional<PixelRect> clientRectOnScreen(WindowHandle window) override {
    HWND hwnd = toHwnd(window);
    RECT r;
    if (!GetClientRect(hwnd, &r)) return std::nullopt;
    POINT topLeft{0, 0};
    if (!ClientToScreen(hwnd, &topLeft)) return std::nullopt;
    return PixelRect{topLeft.x, topLeft.y, topLeft.x + r.right, topLeft.y + r.bottom};
  }

  bool isIconic(WindowHandle window) override { return IsIconic(toHwnd(window)) != FALSE; }
  bool isZoomed(WindowHandle window) override { return IsZoomed(toHwnd(window)) != FALSE; }
  WindowHandle foregroundWindow() override { return fromHwnd(GetForegroundWindow()); }

  bool answersWithin(WindowHandle window, std::uint32_t milliseconds) override {
    HWND hwnd = toHwnd(window);
    if (IsHungAppWindow(hwnd)) return false;
    DWORD_PTR result = 0;
    // SMTO_BLOCK: no other message (nor a hook's call) is handled meanwhile.
    return SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, milliseconds, &result) !=
           0;
  }

  CallResult setWindowPos(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width,
                          std::int32_t height, bool move, bool size) override {
    UINT flags = SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_NOACTIVATE;
    if (!move) flags |= SWP_NOMOVE;
    if (!size) flags |= SWP_NOSIZE;
    SetLastError(ERROR_SUCCESS);
    BOOL ok = SetWindowPos(toHwnd(window), nullptr, x, y, width, height, flags);
    return CallResult{ok != FALSE, GetLastError()};
  }

  CallResult showMinimized(WindowHandle window, bool minimized) override {
    SetLastError(ERROR_SUCCESS);
    // The return value is the earlier visibility, not success.
    ShowWindow(toHwnd(window), minimized ? SW_MINIMIZE : SW_RESTORE);
    DWORD error = GetLastError();
    return CallResult{error == ERROR_SUCCESS, error};
  }

  std::vector<Monitor> monitors() override {
    std::vector<Monitor> list;
    EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR monitor, HDC, LPRECT, LPARAM param) -> BOOL {
          MONITORINFO info{};
          info.cbSize = sizeof info;
          if (!GetMonitorInfoW(monitor, &info)) return TRUE;
          Monitor m;
          m.bounds = fromRect(info.rcMonitor);
          m.work = fromRect(info.rcWork);
          m.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
          using GetDpi = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
          static const auto getDpi = systemFunction<GetDpi>(L"shcore.dll", "GetDpiForMonitor");
          UINT x = 0, y = 0;
          constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
          if (getDpi && SUCCEEDED(getDpi(monitor, kEffectiveDpi, &x, &y)) && x > 0) m.dpi = x;
          reinterpret_cast<std::vector<Monitor>*>(param)->push_back(m);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&list));
    return list;
  }

  RectResult titleBarBounds(WindowHandle window) override {
    // UI Automation asks the app itself: not a hung one, which would hold
    // the call for UI Automation's own long timeout.
    if (!answersWithin(window, kTitleBarAnswerMilliseconds)) return RectResult{kETimeout, {}};
    return uiAutomationTitleBar(window);
  }

  WindowHandle rootWindow(WindowHandle window) override {
    return fromHwnd(GetAncestor(toHwnd(window), GA_ROOT));
  }

  Registration hookWinEvents(std::function<void(const WinEvent&)> onEvent) override {
    constexpr DWORD flags = WINEVENT_OUTOFCONTEXT;
    HWINEVENTHOOK system = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_MINIMIZEEND, nullptr,
                                           winEventProc, 0, 0, flags);
    HWINEVENTHOOK object =
        SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_LOCATIONCHANGE, nullptr, winEventProc, 0, 0, flags);
    if (!system && !object) return nullptr;
    if (system) gWinEvents[system] = onEvent;
    if (object) gWinEvents[object] = std::move(onEvent);
    return Registration(new int(0), [system, object](int* p) {
      for (HWINEVENTHOOK hook : {system, object}) {
        if (!hook) continue;
        UnhookWinEvent(hook);
        gWinEvents.erase(hook);
      }
      delete p;
    });
  }

  Registration waitForExit(std::uint32_t pid, std::function<void()> onExit) override {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return nullptr;
    if (!loop_.watchHandle(process, std::move(onExit))) {
      CloseHandle(process);
      return nullptr;
    }
    Win32MainLoop* loop = &loop_;
    return Registration(process, [loop](void* handle) {
      loop->unwatchHandle(handle);
      CloseHandle(handle);
    });
  }

  Registration hookKeyboard(std::function<void(const LowLevelKey&)> onKey) override {
    if (!gKeyboardHook)
      gKeyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, keyboardProc, GetModuleHandleW(nullptr), 0);
    if (!gKeyboardHook) return nullptr;
    std::uint64_t id = gNextKeyMonitor++;
    gKeys[id] = std::move(onKey);
    return Registration(new std::uint64_t(id), [](std::uint64_t* p) {
      gKeys.erase(*p);
      if (gKeys.empty() && gKeyboardHook) {
        UnhookWindowsHookEx(gKeyboardHook);
        gKeyboardHook = nullptr;
      }
      delete p;
    });
  }

 private:
  Win32MainLoop& loop_;
};

}  // namespace

std::unique_ptr<Win32Api> makeRealWin32Api(Win32MainLoop& loop) {
  return std::make_unique<RealWin32Api>(loop);
}

}  // namespace kestrove::platform::win32
