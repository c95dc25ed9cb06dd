#include "windows/element_access.h"

#include <utility>
#include <variant>

namespace kestrove {

namespace {

bool isAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

constexpr std::size_t kMaxBundleIdLength = 255;

}  // namespace

// Hand-written rather than a regex engine so that a trailing line feed is
// refused too: some engines let "$" match before one.
bool isValidBundleId(std::string_view text) {
  if (text.empty() || text.size() > kMaxBundleIdLength) return false;
  if (!isAsciiAlnum(text.front())) return false;
  for (char c : text.substr(1)) {
    // '_' and '!' for Windows: executable names and application user model
    // ids ("Family_publisherid!App").
    if (!isAsciiAlnum(c) && c != '.' && c != '-' && c != '_' && c != '!') return false;
  }
  return true;
}

std::optional<platform::RunningApp> findRunningApp(platform::Platform& p, const std::string& bundleId) {
  for (const platform::RunningApp& app : p.runningApplications(bundleId)) {
    // An application without a process (pid -1 on macOS) has nothing to ask,
    // and an element made for it would not denote it.
    if (!app.terminated && app.pid > 0) return app;
  }
  return std::nullopt;
}

std::vector<platform::Element> appWindows(platform::Platform& p, std::int32_t pid) {
  platform::Element app = p.createApplicationElement(pid);
  std::optional<platform::Value> value = copyAttribute(p, app, "AXWindows");
  if (!value) return {};
  if (auto* windows = std::get_if<std::vector<platform::Element>>(&*value)) return std::move(*windows);
  return {};
}

std::optional<platform::Value> copyAttribute(platform::Platform& p, const platform::Element& element,
                                             const std::string& name) {
  platform::AttributeRead read = p.copyAttributeValue(element, name);
  if (read.code != platform::ax::kSuccess) return std::nullopt;
  return std::move(read.value);
}

std::optional<std::string> readString(platform::Platform& p, const platform::Element& element,
                                      const std::string& name) {
  std::optional<platform::Value> value = copyAttribute(p, element, name);
  if (!value) return std::nullopt;
  if (auto* text = std::get_if<std::string>(&*value)) return std::move(*text);
  return std::nullopt;
}

std::optional<bool> readBool(platform::Platform& p, const platform::Element& element,
                             const std::string& name) {
  std::optional<platform::Value> value = copyAttribute(p, element, name);
  if (!value) return std::nullopt;
  if (auto* number = std::get_if<platform::Number>(&*value)) return number->value != 0;
  return std::nullopt;
}

std::optional<std::pair<double, double>> readAXValue(platform::Platform& p, const platform::Element& element,
                                                     const std::string& name, platform::AxValueType type) {
  std::optional<platform::Value> value = copyAttribute(p, element, name);
  if (!value) return std::nullopt;
  auto* axValue = std::get_if<platform::AxValue>(&*value);
  // Getting a value out as another type than it holds fails on the platform.
  if (axValue == nullptr || axValue->type != static_cast<int>(type)) return std::nullopt;
  return std::pair{axValue->first, axValue->second};
}

std::optional<Point> readPosition(platform::Platform& p, const platform::Element& element) {
  auto pair = readAXValue(p, element, "AXPosition", platform::AxValueType::Point);
  if (!pair) return std::nullopt;
  return Point{pair->first, pair->second};
}

std::optional<Size> readSize(platform::Platform& p, const platform::Element& element) {
  auto pair = readAXValue(p, element, "AXSize", platform::AxValueType::Size);
  if (!pair) return std::nullopt;
  return Size{pair->first, pair->second};
}

std::optional<Frame> readFrame(platform::Platform& p, const platform::Element& element) {
  std::optional<Point> position = readPosition(p, element);
  if (!position) return std::nullopt;
  std::optional<Size> size = readSize(p, element);
  if (!size) return std::nullopt;
  return Frame{position->x, position->y, size->width, size->height};
}

bool isSettable(platform::Platform& p, const platform::Element& element, const std::string& name) {
  platform::SettableRead read = p.isAttributeSettable(element, name);
  return read.code == platform::ax::kSuccess && read.settable;
}

std::vector<platform::Element> readChildren(platform::Platform& p, const platform::Element& element) {
  std::optional<platform::Value> value = copyAttribute(p, element, "AXChildren");
  if (!value) return {};
  if (auto* children = std::get_if<std::vector<platform::Element>>(&*value)) return std::move(*children);
  return {};
}

std::optional<std::int64_t> windowNumber(platform::Platform& p, const platform::Element& window) {
  if (!p.hasWindowNumberFunction()) return std::nullopt;
  platform::WindowNumberRead read = p.windowNumber(window);
  if (read.code != platform::ax::kSuccess || read.number == 0) return std::nullopt;
  return static_cast<std::int64_t>(read.number);
}

}  // namespace kestrove
