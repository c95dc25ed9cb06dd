// The Windows backend's pure translations: helper windows, frames, errors,
// screens, application names and Escape repeats.
#include <gtest/gtest.h>

#include <optional>

#include "platform/win32/portable/app_identity.h"
#include "platform/win32/portable/key_translation.h"
#include "platform/win32/portable/screen_shapes.h"
#include "platform/win32/portable/window_shapes.h"
#include "unit/win32/fake_win32_api.h"

namespace kestrove::platform::win32 {
namespace {

TEST(Win32WindowFilter, KeepsOnlyWindowsAUserSees) {
  const std::uint32_t normal = style::kCaption | style::kThickFrame;
  struct Case {
    const char* name;
    WindowStyles styles;
    bool cloaked;
    bool listed;
  };
  const Case cases[] = {
      {"normal", {normal, 0, "Notepad", true, false, false}, false, true},
      {"hidden", {normal, 0, "Notepad", false, false, false}, false, false},
      {"IME", {style::kPopup, 0, "IME", true, false, false}, false, false},
      {"OLE", {style::kPopup, 0, "OleMainThreadWndClass", true, false, false}, false, false},
      {"message-only", {normal, 0, "Notepad", true, true, false}, false, false},
      {"tool window", {normal, style::kExToolWindow, "Palette", true, false, false}, false, false},
      {"tool window asking for the taskbar",
       {normal, style::kExToolWindow | style::kExAppWindow, "P", true, false, false},
       false,
       true},
      {"cloaked", {normal, 0, "ApplicationFrameWindow", true, false, false}, true, false},
      {"child", {style::kChild, 0, "Edit", true, false, false}, false, false},
  };
  for (const Case& c : cases) EXPECT_EQ(isApplicationWindow(c.styles, c.cloaked), c.listed) << c.name;
}

TEST(Win32Frame, DwmBoundsElseWindowRect) {
  testing::FakeWin32Api api;
  testing::FakeWindow w;
  w.rect = {92, 100, 508, 408};
  w.dwmFrame = PixelRect{100, 100, 500, 400};
  api.windows = {{0x10, w}};
  EXPECT_EQ(visibleFrame(api, 0x10), (PixelRect{100, 100, 500, 400}));
  api.find(0x10)->dwmFrame.reset();  // E_NOTIMPL, as under Wine
  EXPECT_EQ(visibleFrame(api, 0x10), (PixelRect{92, 100, 508, 408}));
  EXPECT_EQ(visibleFrame(api, 0x20), std::nullopt);
}

TEST(Win32Frame, DescribedFrameSpansTheClientAreaBelowTheVisibleTop) {
  testing::FakeWin32Api api;
  testing::FakeWindow w;
  w.rect = {10, 10, 410, 310};
  struct Case {
    const char* name;
    std::optional<PixelRect> client;
    std::optional<PixelRect> frame;
  };
  const Case cases[] = {
      // Wine's classic frame: 4 px borders at the sides and below.
      {"inside", PixelRect{14, 33, 406, 306}, PixelRect{14, 10, 406, 306}},
      {"no borders", PixelRect{10, 33, 410, 310}, PixelRect{10, 10, 410, 310}},
      // Minimized: an empty client rect far off; the visible frame stands.
      {"empty", PixelRect{-32000, -32000, -32000, -32000}, PixelRect{10, 10, 410, 310}},
      {"outside", PixelRect{0, 33, 406, 306}, PixelRect{10, 10, 410, 310}},
      {"unreadable", std::nullopt, PixelRect{10, 10, 410, 310}},
  };
  for (const Case& c : cases) {
    w.client = c.client;
    api.windows = {{0x10, w}};
    EXPECT_EQ(windowFrame(api, 0x10), c.frame) << c.name;
  }
  EXPECT_EQ(windowFrame(api, 0x20), std::nullopt);
}

TEST(Win32Frame, InvisibleBordersAreAddedBackSoTheVisibleFrameLands) {
  // Windows 10: 7 px of resize border left, right and below, none above.
  const PixelRect outer{93, 100, 507, 407}, visible{100, 100, 500, 400};
  EXPECT_EQ(windowRectFor({300, 50, 900, 450}, outer, visible), (PixelRect{293, 50, 907, 457}));
  // No borders (DWM off, Wine): the rect is the target.
  EXPECT_EQ(windowRectFor({-1920, 0, -1000, 600}, visible, visible), (PixelRect{-1920, 0, -1000, 600}));
}

TEST(Win32Frame, FullScreenIsCaptionlessOverAWholeMonitor) {
  std::vector<Monitor> monitors{{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, 96},
                                {{1920, 0, 3200, 1024}, {1920, 0, 3200, 1024}, false, 96}};
  WindowStyles popup{style::kPopup, 0, "Game", true, false, false};
  WindowStyles captioned{style::kCaption | style::kThickFrame, 0, "Notepad", true, false, false};
  EXPECT_TRUE(isFullScreen(popup, {0, 0, 1920, 1080}, monitors));
  EXPECT_TRUE(isFullScreen(popup, {1920, 0, 3200, 1024}, monitors));
  EXPECT_FALSE(isFullScreen(popup, {0, 0, 1920, 1040}, monitors));
  // A maximized window covers the work area with its caption.
  EXPECT_FALSE(isFullScreen(captioned, {-8, -8, 1928, 1088}, monitors));
}

TEST(Win32Frame, SettableFromTheSizingBorderAndTheWindowState) {
  WindowStyles sizable{style::kCaption | style::kThickFrame, 0, "A", true, false, false};
  WindowStyles fixed{style::kCaption, 0, "A", true, false, false};
  EXPECT_TRUE(canMove(sizable, false, false));
  EXPECT_TRUE(canResize(sizable, false, false));
  EXPECT_TRUE(canMove(fixed, false, false));
  EXPECT_FALSE(canResize(fixed, false, false));
  EXPECT_FALSE(canMove(sizable, false, true));
  EXPECT_FALSE(canResize(sizable, false, true));
  EXPECT_FALSE(canMove(sizable, true, false));
}

TEST(Win32Errors, LastErrorsAsAccessibilityCodes) {
  EXPECT_EQ(axErrorFor(kErrorAccessDenied), ax::kCannotComplete);
  EXPECT_EQ(axErrorFor(kErrorInvalidWindowHandle), ax::kInvalidUIElement);
  EXPECT_EQ(axErrorFor(kErrorInvalidParameter), ax::kFailure);
  EXPECT_EQ(axErrorFor(0), ax::kFailure);  // failed without saying why
}

TEST(Win32Screens, PrimaryFirstInBottomLeftCoordinatesWithWorkAreasAndScale) {
  // Enumerated with the secondary first; it sits left of the primary, at
  // 150 %, and its top is 200 px below the primary's.
  std::vector<Monitor> monitors{{{-1280, 200, 0, 1000}, {-1280, 200, 0, 1000}, false, 144},
                                {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, std::nullopt}};
  std::vector<Screen> screens = screenList(monitors);
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0].frame.x, 0);
  EXPECT_EQ(screens[0].frame.y, 0);
  EXPECT_EQ(screens[0].frame.width, 1920);
  EXPECT_EQ(screens[0].visibleFrame.y, 40);  // the taskbar below
  EXPECT_EQ(screens[0].visibleFrame.height, 1040);
  EXPECT_EQ(screens[0].scale, 1);  // DPI not readable
  EXPECT_EQ(screens[0].number, 1);
  EXPECT_EQ(screens[1].frame.x, -1280);
  EXPECT_EQ(screens[1].frame.y, 80);  // 1080 - 1000
  EXPECT_EQ(screens[1].frame.height, 800);
  EXPECT_EQ(screens[1].scale, 1.5);
  EXPECT_EQ(screens[1].number, 2);
  Rect main = mainDisplayBounds(monitors);
  EXPECT_EQ(main.width, 1920);
  EXPECT_EQ(main.height, 1080);
  EXPECT_TRUE(screenList({}).empty());
}

TEST(Win32Applications, ExecutableNameWithoutCaseOrModelId) {
  struct Case {
    const char* bundleId;
    const char* exeFile;
    std::optional<std::string> aumid;
    bool matches;
  };
  const Case cases[] = {
      {"notepad", "notepad.exe", std::nullopt, true},
      {"Notepad", "NOTEPAD.EXE", std::nullopt, true},
      {"notepad", "C:\\Windows\\System32\\notepad.exe", std::nullopt, true},
      {"notepad.exe", "notepad.exe", std::nullopt, false},
      {"note", "notepad.exe", std::nullopt, false},
      {"Code - Insiders", "Code - Insiders.exe", std::nullopt, true},
      {"target", "Z:\\tmp\\target.EXE", std::nullopt, true},
      {"Microsoft.WindowsCalculator_8wekyb3d8bbwe!App", "CalculatorApp.exe",
       std::string("Microsoft.WindowsCalculator_8wekyb3d8bbwe!App"), true},
      {"microsoft.windowscalculator_8wekyb3d8bbwe!app", "CalculatorApp.exe",
       std::string("Microsoft.WindowsCalculator_8wekyb3d8bbwe!App"), false},
      {"", "notepad.exe", std::nullopt, false},
      {"exe", ".exe", std::nullopt, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(namesApplication(c.bundleId, c.exeFile, c.aumid), c.matches)
        << c.bundleId << " / " << c.exeFile;
  EXPECT_EQ(executableName("C:/Program Files/App/app.exe"), "app");
  EXPECT_EQ(executableName("tool"), "tool");
}

TEST(Win32Keys, RepeatsAreDownsWhileTheKeyIsDown) {
  KeyTranslation keys;
  const struct {
    LowLevelKey key;
    bool down;
    bool repeat;
  } steps[] = {
      {{kVirtualKeyEscape, true}, true, false},  // pressed
      {{kVirtualKeyEscape, true}, true, true},   // X autorepeat under Wine
      {{0x41, true}, true, false},               // another key meanwhile
      {{kVirtualKeyEscape, true}, true, true},
      {{kVirtualKeyEscape, false}, false, false},  // released
      {{kVirtualKeyEscape, true}, true, false},    // a new press
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    KeyEvent e = keys.translate(steps[i].key);
    EXPECT_EQ(e.isDown, steps[i].down) << i;
    EXPECT_EQ(e.isRepeat, steps[i].repeat) << i;
  }
  EXPECT_EQ(keyCodeFor(kVirtualKeyEscape), 53);
  for (std::uint32_t vk = 0; vk < 256; ++vk) {
    if (vk == kVirtualKeyEscape) continue;
    EXPECT_NE(keyCodeFor(vk), 53) << vk;
  }
}

}  // namespace
}  // namespace kestrove::platform::win32
