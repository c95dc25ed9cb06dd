#include "fuzz_world.h"

#include <chrono>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

namespace kestrove::fuzz {
namespace {

using namespace std::chrono_literals;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

// Ordinary values first, then the edges every rule must survive.
constexpr double kPositions[] = {0,   25,      50,     100,   300,  640,  1440, -180, -1440,
                                 0.5, 99999.5, -1e308, 1e308, kMax, kNaN, kInf, -kInf};
constexpr double kSizes[] = {800, 600, 1280, 748, 1440, 900, 20, 1, 0, -100, 0.5, 1e308, -1e308, kNaN, kInf};
constexpr double kTitlebars[] = {28, 32, 0, 52, 22.5, 120};
constexpr double kScales[] = {1, 2, 1.5, 0, kNaN, kInf};

constexpr std::int32_t kCodes[] = {platform::ax::kCannotComplete,  platform::ax::kFailure,
                                   platform::ax::kNoValue,         platform::ax::kAttributeUnsupported,
                                   platform::ax::kIllegalArgument, platform::ax::kInvalidUIElement,
                                   platform::ax::kAPIDisabled,     platform::ax::kNotImplemented};
constexpr const char* kReadAttributes[] = {"AXPosition", "AXSize",      "AXChildren",   "AXSubrole", "AXRole",
                                           "AXMain",     "AXMinimized", "AXFullScreen", "AXWindows"};
constexpr const char* kNotifications[] = {"AXWindowCreated", "AXWindowMoved", "AXWindowResized",
                                          "AXUIElementDestroyed"};
constexpr const char* kButtonSubroles[] = {"AXCloseButton",      "AXMinimizeButton", "AXZoomButton",
                                           "AXFullScreenButton", "AXToolbarButton",  "AXUnknown"};
constexpr const char* kWindowSubroles[] = {"AXStandardWindow", "AXDialog", "AXFloatingWindow", ""};

platform::Value oddValue(FuzzedDataProvider& genes, const platform::Element& someWindow) {
  switch (genes.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return std::string("yes");
    case 1:
      return platform::Number{genes.PickValueInArray(kPositions)};
    case 2:
      return platform::AxValue{genes.ConsumeIntegralInRange(0, 4), genes.PickValueInArray(kPositions),
                               genes.PickValueInArray(kPositions)};
    case 3:
      return platform::AxValue{2, genes.PickValueInArray(kSizes), genes.PickValueInArray(kSizes)};
    case 4:
      return std::vector<platform::Element>{someWindow, someWindow};
    case 5:
      return platform::NonElementList{};
    case 6:
      return std::vector<platform::Element>{};
    default:
      return platform::OtherValue{};
  }
}

sim::SimChild child(FuzzedDataProvider& genes) {
  sim::SimChild c;
  switch (genes.ConsumeIntegralInRange(0, 4)) {
    case 0:
      c.anchor = sim::SimChild::Anchor::Content;
      break;
    case 1:
      c.anchor = sim::SimChild::Anchor::TitlebarButton;
      c.role = "AXButton";
      c.subrole = genes.PickValueInArray(kButtonSubroles);
      c.x = 8;
      c.width = 14;
      c.height = 16;
      break;
    case 2:
      c.role = "AXToolbar";
      c.fullWidth = true;
      c.y = 28;
      c.height = 40;
      break;
    case 3:
      c.fullWidth = true;
      c.y = genes.PickValueInArray(kTitlebars);
      c.height = genes.PickValueInArray(kSizes);
      break;
    default:
      c.x = genes.PickValueInArray(kPositions);
      c.y = genes.PickValueInArray(kPositions);
      c.width = genes.PickValueInArray(kSizes);
      c.height = genes.PickValueInArray(kSizes);
      break;
  }
  return c;
}

// The first word after "!name", then the next, as numbers; 0 when missing.
std::vector<double> numbersOf(std::string_view line) {
  std::vector<double> numbers;
  std::string words(line);
  char* at = words.data();
  while (*at != '\0' && *at != ' ') ++at;  // the directive's name
  while (*at != '\0') {
    char* end = nullptr;
    double value = std::strtod(at, &end);
    if (end == at) {
      while (*at != '\0' && *at != ' ') ++at;
      while (*at == ' ') ++at;
      continue;
    }
    numbers.push_back(value);
    at = end;
  }
  return numbers;
}

std::int64_t indexOf(double value) {
  if (!(value >= 0 && value < 1e9)) return 0;
  return static_cast<std::int64_t>(value);
}

}  // namespace

FuzzWorld::FuzzWorld(FuzzedDataProvider& genes) {
  sim_.setCallLog(false);
  sim_.setTrusted(genes.ConsumeIntegralInRange(0, 7) != 0);
  sim_.setPromptGrants(genes.ConsumeBool());
  sim_.setWindowNumberFunctionPresent(genes.ConsumeIntegralInRange(0, 7) != 0);
  sim_.setOsVersion({genes.PickValueInArray({14, 25, 26, 12}), 0, 0});
  sim_.setCreateValueFails(genes.ConsumeIntegralInRange(0, 15) == 0);
  if (genes.ConsumeIntegralInRange(0, 15) == 0) {
    sim_.failObserverCreate(genes.PickValueInArray(kCodes), genes.ConsumeBool());
  }
  sim_.refuseKeyMonitor(genes.ConsumeIntegralInRange(0, 15) == 0);

  std::vector<platform::Screen> screens(genes.ConsumeIntegralInRange(0, 3));
  for (auto& screen : screens) {
    screen.frame = {genes.PickValueInArray(kPositions), genes.PickValueInArray(kPositions),
                    genes.PickValueInArray(kSizes), genes.PickValueInArray(kSizes)};
    screen.visibleFrame = screen.frame;
    if (genes.ConsumeBool()) screen.visibleFrame.height -= genes.PickValueInArray(kTitlebars);
    if (genes.ConsumeBool()) screen.number = genes.ConsumeIntegralInRange<std::int64_t>(-1, 3);
    screen.scale = genes.PickValueInArray(kScales);
  }
  sim_.setScreens(screens);
  if (genes.ConsumeBool()) sim_.setMainDisplayBounds({0, 0, 1920, genes.PickValueInArray(kSizes)});

  // The viewer that seeds name, a second instance of it, and another app.
  struct AppPlan {
    const char* bundle;
    std::int32_t pid;
    int maxWindows;
  };
  const AppPlan apps[] = {{kViewer, 4101, 4}, {kViewer, 4103, 2}, {kEditor, 4102, 2}};
  std::vector<std::int32_t> terminated;
  for (const AppPlan& plan : apps) {
    if (plan.pid != 4101 && !genes.ConsumeBool()) continue;
    sim_.addApp(plan.bundle, plan.pid);
    pids_.push_back(plan.pid);
    const int count = genes.ConsumeIntegralInRange(plan.pid == 4101 ? 1 : 0, plan.maxWindows);
    for (int i = 0; i < count; ++i) {
      sim::WindowId id = sim_.addWindow(plan.pid, window(genes));
      windows_.push_back(id);
      addFaults(genes, sim_.windowElement(id));
      const auto& children = sim_.window(id).children;
      if (!children.empty() && genes.ConsumeIntegralInRange(0, 3) == 0) {
        addFaults(genes,
                  sim_.childElement(id, genes.ConsumeIntegralInRange<std::size_t>(0, children.size() - 1)));
      }
    }
    addFaults(genes, sim_.applicationElement(plan.pid));
    if (plan.pid != 4101 && genes.ConsumeIntegralInRange(0, 3) == 0) terminated.push_back(plan.pid);
  }
  for (std::int32_t pid : terminated) sim_.quitApp(pid);
}

sim::SimWindow FuzzWorld::window(FuzzedDataProvider& genes) const {
  sim::SimWindow w;
  // Most windows are ordinary: the edges come from single genes.
  if (genes.ConsumeIntegralInRange(0, 3) == 0) {
    w.x = genes.PickValueInArray(kPositions);
    w.y = genes.PickValueInArray(kPositions);
    w.width = genes.PickValueInArray(kSizes);
    w.height = genes.PickValueInArray(kSizes);
  } else {
    w.x = genes.ConsumeIntegralInRange(-200, 2000);
    w.y = genes.ConsumeIntegralInRange(-50, 1200);
    w.width = genes.ConsumeIntegralInRange(1, 2000);
    w.height = genes.ConsumeIntegralInRange(1, 1400);
  }
  const auto flags = genes.ConsumeIntegral<std::uint8_t>();
  w.main = flags & 1;
  w.minimized = (flags & 0x0e) == 0x0e;
  w.fullScreen = (flags & 0x30) == 0x30;
  w.positionSettable = (flags & 0xc0) != 0x40;
  w.sizeSettable = (flags & 0xc0) != 0x80;
  w.subrole = genes.PickValueInArray(kWindowSubroles);
  if (genes.ConsumeBool()) w.number = genes.PickValueInArray<std::uint32_t>({7001, 7002, 0, 4294967295u});
  if (genes.ConsumeIntegralInRange(0, 7) == 0) w.numberCode = genes.PickValueInArray(kCodes);
  w.titlebar = genes.PickValueInArray(kTitlebars);
  if (genes.ConsumeIntegralInRange(0, 3) == 0) w.titlebarAfterMove = genes.PickValueInArray(kTitlebars);
  switch (genes.ConsumeIntegralInRange(0, 7)) {
    case 0:
      w.clamp.minWidth = 320;
      w.clamp.minHeight = 240;
      w.clamp.minY = 25;
      break;
    case 1:
      w.clamp.maxWidth = 1000;
      w.clamp.maxHeight = 700;
      break;
    case 2:
      w.clamp.widthIncrement = 7;
      w.clamp.heightIncrement = 13;
      break;
    case 3:
      w.clamp.shrinkBy = 10;
      break;
    default:
      break;
  }
  const int children = genes.ConsumeIntegralInRange(0, 5);
  for (int i = 0; i < children; ++i) w.children.push_back(child(genes));
  return w;
}

void FuzzWorld::addFaults(FuzzedDataProvider& genes, const platform::Element& element) {
  const int count = genes.ConsumeIntegralInRange(0, 3) == 0 ? genes.ConsumeIntegralInRange(1, 3) : 0;
  for (int i = 0; i < count; ++i) {
    const int times = genes.PickValueInArray({-1, 1, 2});
    switch (genes.ConsumeIntegralInRange(0, 4)) {
      case 0:
      case 1: {
        platform::AttributeRead read{genes.ConsumeBool() ? 0 : genes.PickValueInArray(kCodes), std::nullopt};
        if (genes.ConsumeBool()) read.value = oddValue(genes, element);
        sim_.failRead(element, genes.PickValueInArray(kReadAttributes), read, times);
        break;
      }
      case 2:
        sim_.failSettable(element, genes.ConsumeBool() ? "AXSize" : "AXPosition",
                          {genes.ConsumeBool() ? 0 : genes.PickValueInArray(kCodes), genes.ConsumeBool()},
                          times);
        break;
      case 3:
        sim_.failWrite(element, genes.ConsumeBool() ? "AXSize" : "AXPosition", genes.PickValueInArray(kCodes),
                       times);
        break;
      default:
        sim_.failAddNotification(element, genes.PickValueInArray(kNotifications),
                                 genes.PickValueInArray(kCodes));
        break;
    }
  }
}

sim::WindowId FuzzWorld::windowAt(std::int64_t index) const {
  return windows_[static_cast<std::size_t>(index) % windows_.size()];
}

std::int32_t FuzzWorld::pidAt(std::int64_t index) const {
  return pids_[static_cast<std::size_t>(index) % pids_.size()];
}

void FuzzWorld::runDirective(std::string_view line) {
  std::size_t end = line.find(' ');
  const std::string_view name = line.substr(1, end == std::string_view::npos ? line.size() - 1 : end - 1);
  const std::vector<double> n = numbersOf(line);
  auto arg = [&](std::size_t i, double otherwise) { return i < n.size() ? n[i] : otherwise; };
  try {
    if (name == "wait") {
      const double ms = arg(0, 0);
      sim_.loop().advance(std::chrono::milliseconds(ms >= 0 && ms <= 20000 ? static_cast<int>(ms) : 0));
    } else if (name == "key") {
      platform::KeyEvent key;
      key.keyCode = static_cast<std::uint16_t>(indexOf(arg(0, 53)));
      key.isDown = line.find(" u") == std::string_view::npos;
      key.isRepeat = line.find(" r") != std::string_view::npos;
      key.modifierFlags = static_cast<std::uint64_t>(indexOf(arg(1, 0)));
      sim_.pressKey(key);
    } else if (name == "move") {
      sim_.moveWindow(windowAt(indexOf(arg(0, 0))), arg(1, 0), arg(2, 0));
    } else if (name == "resize") {
      sim_.resizeWindow(windowAt(indexOf(arg(0, 0))), arg(1, 800), arg(2, 600));
    } else if (name == "create") {
      sim::SimWindow w;
      sim::SimChild content;
      content.anchor = sim::SimChild::Anchor::Content;
      w.children.push_back(content);
      windows_.push_back(sim_.createWindow(pidAt(indexOf(arg(0, 0))), w));
    } else if (name == "close") {
      sim_.closeWindow(windowAt(indexOf(arg(0, 0))));
    } else if (name == "raise") {
      sim_.raiseWindow(windowAt(indexOf(arg(0, 0))));
    } else if (name == "quit") {
      sim_.quitApp(pidAt(indexOf(arg(0, 0))));
    } else if (name == "notice") {
      platform::TerminationNotice notice;
      if (!n.empty()) notice.pid = pidAt(indexOf(n[0]));
      sim_.postTerminationNotice(notice);
    }
  } catch (const std::logic_error&) {
    // The sim refuses what its users could not do (a window it never had).
  }
}

}  // namespace kestrove::fuzz
