// The Windows backend over a fake Win32 layer: the Accessibility shapes of
// windows, place with its failures, and the events Windows sends but Wine
// does not.
#include "platform/win32/portable/win32_platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>

#include "unit/win32/fake_win32_api.h"

namespace kestrove::platform::win32 {
namespace {

using testing::FakeWin32Api;
using testing::FakeWindow;

class QueueLoop : public MainLoop {
 public:
  void post(Work work) override { work(); }
  void postAfter(std::chrono::nanoseconds, Work work) override { work(); }
  void run() override {}
};

constexpr std::uint32_t kPid = 42;

// A Windows 11 window: 7 px of invisible border, a 31 px caption.
FakeWindow windows11Window(PixelRect visible) {
  FakeWindow w;
  w.pid = kPid;
  w.dwmFrame = visible;
  w.rect = {visible.left - 7, visible.top, visible.right + 7, visible.bottom + 7};
  w.client = PixelRect{visible.left + 1, visible.top + 31, visible.right - 1, visible.bottom - 1};
  return w;
}

// The same window as Wine draws it: no DWM, borders its own.
FakeWindow wineWindow(PixelRect rect) {
  FakeWindow w;
  w.pid = kPid;
  w.rect = rect;
  w.client = PixelRect{rect.left + 4, rect.top + 23, rect.right - 4, rect.bottom - 4};
  return w;
}

AxValue read(Win32Platform& p, const Element& e, const std::string& attribute) {
  AttributeRead r = p.copyAttributeValue(e, attribute);
  EXPECT_EQ(r.code, ax::kSuccess) << attribute;
  if (!r.value || !std::holds_alternative<AxValue>(*r.value)) return AxValue{-1, -1, -1};
  return std::get<AxValue>(*r.value);
}

double number(Win32Platform& p, const Element& e, const std::string& attribute) {
  AttributeRead r = p.copyAttributeValue(e, attribute);
  if (r.code != ax::kSuccess || !r.value || !std::holds_alternative<Number>(*r.value)) return -1;
  return std::get<Number>(*r.value).value;
}

std::vector<Element> elements(Win32Platform& p, const Element& e, const std::string& attribute) {
  AttributeRead r = p.copyAttributeValue(e, attribute);
  if (r.code != ax::kSuccess || !r.value || !std::holds_alternative<std::vector<Element>>(*r.value))
    return {};
  return std::get<std::vector<Element>>(*r.value);
}

class Win32PlatformTest : public ::testing::Test {
 protected:
  Element app() { return platform.createApplicationElement(kPid); }
  Element window(WindowHandle h) { return makeElement(Win32Element::Kind::Window, h, kPid); }

  FakeWin32Api api;
  QueueLoop loop;
  Win32Platform platform{api, loop};
};

TEST_F(Win32PlatformTest, RunningApplicationsByExecutableOrModelId) {
  api.processList = {
      {0, "[System Process]"}, {7, "NOTEPAD.EXE"}, {9, "notepad.exe"}, {11, "CalculatorApp.exe"}};
  api.userModelIds[11] = "Microsoft.WindowsCalculator_8wekyb3d8bbwe!App";
  auto pids = [](const std::vector<RunningApp>& apps) {
    std::vector<std::int32_t> list;
    for (const auto& a : apps) list.push_back(a.pid);
    return list;
  };
  EXPECT_EQ(pids(platform.runningApplications("notepad")), (std::vector<std::int32_t>{7, 9}));
  EXPECT_EQ(pids(platform.runningApplications("Microsoft.WindowsCalculator_8wekyb3d8bbwe!App")),
            (std::vector<std::int32_t>{11}));
  EXPECT_TRUE(platform.runningApplications("calc").empty());
}

TEST_F(Win32PlatformTest, WindowsLeaveOutHelpersAndReadTheVisibleFrame) {
  FakeWindow ime;
  ime.pid = kPid;
  ime.styles = {style::kPopup, 0, "IME", false, false, false};
  FakeWindow other = windows11Window({0, 0, 10, 10});
  other.pid = 5;
  api.windows = {{0x100, ime},
                 {0x200, windows11Window({100, 50, 900, 650})},
                 {0x300, other},
                 {0x400, wineWindow({10, 10, 410, 310})}};
  std::vector<Element> list = elements(platform, app(), "AXWindows");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(platform.windowNumber(list[0]).number, 0x200u);
  EXPECT_EQ(platform.windowNumber(list[1]).number, 0x400u);

  // From DWM's top (not the window rect's, with its invisible borders) over
  // the client area's width and down to its bottom.
  AxValue position = read(platform, list[0], "AXPosition"), size = read(platform, list[0], "AXSize");
  EXPECT_EQ(position.first, 101);
  EXPECT_EQ(position.second, 50);
  EXPECT_EQ(size.first, 798);
  EXPECT_EQ(size.second, 599);
  // The content is the client area exactly: the caption is what lies between.
  std::vector<Element> children = elements(platform, list[0], "AXChildren");
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(read(platform, children[0], "AXPosition").first, 101);
  EXPECT_EQ(read(platform, children[0], "AXPosition").second, 81);
  EXPECT_EQ(read(platform, children[0], "AXSize").first, 798);
  EXPECT_EQ(read(platform, children[0], "AXSize").second, 568);
  // Under Wine DWM answers E_NOTIMPL: the window rect's top, the client
  // area's sides and bottom (Wine's own 4 px borders are not content).
  EXPECT_EQ(read(platform, list[1], "AXPosition").first, 14);
  EXPECT_EQ(read(platform, list[1], "AXSize").first, 392);
  EXPECT_EQ(read(platform, list[1], "AXSize").second, 296);
  EXPECT_EQ(read(platform, elements(platform, list[1], "AXChildren")[0], "AXPosition").second, 33);
}

TEST_F(Win32PlatformTest, ATitleBarDrawnInTheClientArea) {
  FakeWindow electron = windows11Window({0, 0, 800, 600});
  electron.client = PixelRect{0, 0, 800, 600};
  api.windows = {{0x200, electron}};
  // No UI Automation (Wine): the title bar is not measured at all.
  EXPECT_TRUE(elements(platform, window(0x200), "AXChildren").empty());
  // UI Automation finds the title bar element: the content starts below it.
  api.find(0x200)->titleBar = PixelRect{0, 0, 800, 40};
  std::vector<Element> children = elements(platform, window(0x200), "AXChildren");
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(read(platform, children[0], "AXPosition").second, 40);
}

TEST_F(Win32PlatformTest, FlagsAndSettable) {
  FakeWindow fixed = windows11Window({0, 0, 400, 300});
  fixed.styles.style = style::kCaption;
  FakeWindow maximized = windows11Window({0, 0, 1920, 1040});
  maximized.zoomed = true;
  FakeWindow minimized = windows11Window({-32000, -32000, -31840, -31970});
  minimized.iconic = true;
  FakeWindow game = windows11Window({0, 0, 1920, 1080});
  game.styles.style = style::kPopup;
  api.monitorList = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, 96}};
  api.windows = {{0x1, fixed}, {0x2, maximized}, {0x3, minimized}, {0x4, game}};
  api.foreground = 0x3;
  struct Case {
    WindowHandle h;
    bool move, resize, minimized, fullScreen, main;
  };
  const Case cases[] = {{0x1, true, false, false, false, false},
                        {0x2, false, false, false, false, false},
                        {0x3, false, false, true, false, true},
                        {0x4, true, false, false, true, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(platform.isAttributeSettable(window(c.h), "AXPosition").settable, c.move) << c.h;
    EXPECT_EQ(platform.isAttributeSettable(window(c.h), "AXSize").settable, c.resize) << c.h;
    EXPECT_EQ(number(platform, window(c.h), "AXMinimized"), c.minimized) << c.h;
    EXPECT_EQ(number(platform, window(c.h), "AXFullScreen"), c.fullScreen) << c.h;
    EXPECT_EQ(number(platform, window(c.h), "AXMain"), c.main) << c.h;
  }
  // The foreground window belongs to another process: the topmost is main.
  api.foreground = 0x999;
  EXPECT_EQ(number(platform, window(0x1), "AXMain"), 1);
}

TEST_F(Win32PlatformTest, PlaceLandsTheVisibleFrame) {
  api.windows = {{0x200, windows11Window({100, 50, 900, 650})}};
  AxValue to{int(AxValueType::Point), -1500, 20};
  EXPECT_EQ(platform.setAttributeValue(window(0x200), "AXPosition", to), ax::kSuccess);
  AxValue size{int(AxValueType::Size), 640, 480};
  EXPECT_EQ(platform.setAttributeValue(window(0x200), "AXSize", size), ax::kSuccess);
  // The borders outside the described frame are added back: 8 px at the
  // sides and bottom (7 invisible, 1 visible), none at the top.
  EXPECT_EQ(api.calls, (std::vector<std::string>{"SetWindowPos -1508 20 814 607 move",
                                                 "SetWindowPos -1508 20 656 488 size"}));
  AxValue position = read(platform, window(0x200), "AXPosition");
  EXPECT_EQ(position.first, -1500);
  EXPECT_EQ(position.second, 20);
  EXPECT_EQ(read(platform, window(0x200), "AXSize").first, 640);
  EXPECT_EQ(read(platform, window(0x200), "AXSize").second, 480);
}

TEST_F(Win32PlatformTest, PlaceFailuresAsAccessibilityCodes) {
  const AxValue to{int(AxValueType::Point), 10, 10};
  struct Case {
    const char* name;
    std::function<void(FakeWin32Api&)> arrange;
    std::int32_t code;
    bool called;
  };
  const Case cases[] = {
      {"hung: never sent a message", [](FakeWin32Api& a) { a.find(0x200)->hung = true; }, ax::kCannotComplete,
       false},
      {"elevated (UIPI)", [](FakeWin32Api& a) { a.find(0x200)->refuseWith = kErrorAccessDenied; },
       ax::kCannotComplete, true},
      {"destroyed before", [](FakeWin32Api& a) { a.destroy(0x200); }, ax::kInvalidUIElement, false},
      {"destroyed in the middle",
       [](FakeWin32Api& a) {
         // Gone after the existence and hung checks, before its rect is read.
         a.beforeNextWindowCall = [&a] {
           a.beforeNextWindowCall = [&a] { a.beforeNextWindowCall = [&a] { a.destroy(0x200); }; };
         };
       },
       ax::kInvalidUIElement, false},
      {"refused without a reason", [](FakeWin32Api& a) { a.find(0x200)->refuseWith = 1; }, ax::kFailure,
       true},
  };
  for (const Case& c : cases) {
    api.windows = {{0x200, windows11Window({100, 50, 900, 650})}};
    api.calls.clear();
    c.arrange(api);
    EXPECT_EQ(platform.setAttributeValue(window(0x200), "AXPosition", to), c.code) << c.name;
    EXPECT_EQ(!api.calls.empty(), c.called) << c.name;
  }
  api.windows = {{0x200, windows11Window({100, 50, 900, 650})}};
  EXPECT_EQ(platform.setAttributeValue(window(0x200), "AXPosition", AxValue{int(AxValueType::Size), 1, 1}),
            ax::kIllegalArgument);
  EXPECT_EQ(platform.setAttributeValue(
                window(0x200), "AXSize",
                AxValue{int(AxValueType::Size), std::numeric_limits<double>::quiet_NaN(), 1}),
            ax::kIllegalArgument);
  EXPECT_EQ(platform.copyAttributeValue(window(0x999), "AXPosition").code, ax::kInvalidUIElement);
  EXPECT_EQ(platform.windowNumber(window(0x999)).code, ax::kInvalidUIElement);
}

struct Seen {
  WindowHandle window;
  std::string notification;
  bool operator==(const Seen&) const = default;
};

class Win32EventsTest : public Win32PlatformTest {
 protected:
  void observe() {
    ObserverCreated created =
        platform.createObserver(kPid, [this](const Element& e, const std::string& n, const void*) {
          seen.push_back(Seen{asWin32(e)->window(), n});
        });
    ASSERT_EQ(created.code, ax::kSuccess);
    observer = created.observer;
    for (const char* n : {"AXWindowCreated", "AXWindowMoved", "AXWindowResized"})
      ASSERT_EQ(platform.addNotification(observer, app(), n, nullptr), ax::kSuccess);
    platform.attachObserver(observer);
  }

  Observer observer;
  std::vector<Seen> seen;
};

TEST_F(Win32EventsTest, WindowsEventsAsNotifications) {
  api.windows = {{0x200, windows11Window({100, 50, 900, 650})}};
  observe();
  ASSERT_EQ(platform.addNotification(observer, window(0x200), "AXUIElementDestroyed", nullptr), ax::kSuccess);
  EXPECT_EQ(platform.addNotification(observer, window(0x200), "AXUIElementDestroyed", nullptr),
            ax::kNotificationAlreadyRegistered);

  // A window created hidden is told when it shows.
  FakeWindow fresh = windows11Window({0, 0, 300, 200});
  fresh.styles.visible = false;
  api.windows.push_back({0x300, fresh});
  api.send(winevent::kObjectCreate, 0x300);
  EXPECT_TRUE(seen.empty());
  api.find(0x300)->styles.visible = true;
  api.send(winevent::kObjectShow, 0x300);
  api.send(winevent::kObjectShow, 0x300);  // shown again: not created again
  EXPECT_EQ(seen, (std::vector<Seen>{{0x300, "AXWindowCreated"}}));
  seen.clear();

  // Moves, resizes and both, from the visible frame; a caret's location
  // change (not OBJID_WINDOW) is nothing.
  api.setWindowPos(0x200, 0, 0, 0, 0, true, false);
  api.send(winevent::kObjectLocationChange, 0x200);
  api.setWindowPos(0x200, 0, 0, 500, 500, false, true);
  api.send(winevent::kObjectLocationChange, 0x200);
  api.send(winevent::kObjectLocationChange, 0x200);  // unchanged
  api.setWindowPos(0x200, 5, 5, 600, 600, true, true);
  api.send(winevent::kObjectLocationChange, 0x200, -8);
  api.send(winevent::kObjectLocationChange, 0x200);
  EXPECT_EQ(seen, (std::vector<Seen>{{0x200, "AXWindowMoved"},
                                     {0x200, "AXWindowResized"},
                                     {0x200, "AXWindowMoved"},
                                     {0x200, "AXWindowResized"}}));
  seen.clear();

  // Minimized to -32000 and back where it was: no move either way.
  api.send(winevent::kSystemMinimizeStart, 0x200);
  FakeWindow* w = api.find(0x200);
  w->iconic = true;
  PixelRect before = *w->dwmFrame;
  w->dwmFrame = PixelRect{-32000, -32000, -31840, -31970};
  api.send(winevent::kObjectLocationChange, 0x200);
  w->iconic = false;
  w->dwmFrame = before;
  api.send(winevent::kSystemMinimizeEnd, 0x200);
  api.send(winevent::kObjectLocationChange, 0x200);
  EXPECT_TRUE(seen.empty());

  // Hidden is closed; destroyed is closed, once.
  api.find(0x300)->styles.visible = false;
  api.send(winevent::kObjectHide, 0x300);
  api.destroy(0x200);
  api.send(winevent::kObjectDestroy, 0x200);
  api.send(winevent::kObjectDestroy, 0x200);
  // The hidden window had no destroyed registration of its own: only the
  // one registered on 0x200 is told.
  EXPECT_EQ(seen, (std::vector<Seen>{{0x200, "AXUIElementDestroyed"}}));
}

TEST_F(Win32EventsTest, WineShapedEventsStillFindNewWindows) {
  observe();
  // Wine sends CREATE before the window shows and never SHOW: the focus
  // on one of its children takes it up.
  FakeWindow fresh = wineWindow({0, 0, 300, 200});
  fresh.styles.visible = false;
  api.windows.push_back({0x500, fresh});
  api.send(winevent::kObjectCreate, 0x500);
  api.find(0x500)->styles.visible = true;
  api.windows.push_back({0x503, FakeWindow{}});
  api.find(0x503)->pid = kPid;
  api.send(winevent::kObjectFocus, 0x503, -4);  // OBJID_CLIENT of a child
  EXPECT_EQ(seen, (std::vector<Seen>{{0x500, "AXWindowCreated"}}));
}

TEST_F(Win32EventsTest, OwnWindowsOtherProcessesAndDetachedObserversAreSilent) {
  observe();
  FakeWindow mine = windows11Window({0, 0, 10, 10});
  mine.pid = api.ownPid;
  FakeWindow other = windows11Window({0, 0, 10, 10});
  other.pid = 77;
  api.windows = {{0x600, mine}, {0x700, other}};
  api.send(winevent::kObjectCreate, 0x600);
  api.send(winevent::kObjectCreate, 0x700);
  EXPECT_TRUE(seen.empty());
  platform.detachObserver(observer);
  api.windows.push_back({0x800, windows11Window({0, 0, 10, 10})});
  api.send(winevent::kObjectCreate, 0x800);
  EXPECT_TRUE(seen.empty());
}

TEST_F(Win32EventsTest, RefusedHookAndUnsupportedRegistrations) {
  api.refuseHooks = true;
  EXPECT_EQ(platform.createObserver(kPid, nullptr).code, ax::kCannotComplete);
  EXPECT_EQ(platform.addGlobalKeyMonitor([](const KeyEvent&) {}), nullptr);
  api.refuseHooks = false;
  observe();
  EXPECT_EQ(platform.addNotification(observer, window(0x200), "AXWindowMoved", nullptr),
            ax::kNotificationUnsupported);
  EXPECT_EQ(
      platform.addNotification(observer, platform.createApplicationElement(9), "AXWindowMoved", nullptr),
      ax::kIllegalArgument);
  EXPECT_EQ(platform.addNotification(observer, window(0x999), "AXUIElementDestroyed", nullptr),
            ax::kInvalidUIElement);
}

TEST_F(Win32PlatformTest, ProcessExitAndEscapeThroughTheirHooks) {
  std::vector<std::optional<std::int32_t>> exits;
  Token token =
      platform.addTerminationListener(kPid, [&](const TerminationNotice& n) { exits.push_back(n.pid); });
  ASSERT_TRUE(api.exitWaits.count(kPid));
  api.exitWaits[kPid]();
  EXPECT_EQ(exits, (std::vector<std::optional<std::int32_t>>{kPid}));
  platform.removeTerminationListener(token);
  EXPECT_FALSE(api.exitWaits.count(kPid));

  std::vector<KeyEvent> keys;
  Token monitor = platform.addGlobalKeyMonitor([&](const KeyEvent& e) { keys.push_back(e); });
  ASSERT_NE(monitor, nullptr);
  api.keys({kVirtualKeyEscape, true});
  api.keys({kVirtualKeyEscape, true});
  api.keys({kVirtualKeyEscape, false});
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_FALSE(keys[0].isRepeat);
  EXPECT_TRUE(keys[1].isRepeat);
  EXPECT_FALSE(keys[2].isDown);
  platform.removeKeyMonitor(monitor);
  EXPECT_FALSE(api.keys);
}

}  // namespace
}  // namespace kestrove::platform::win32
