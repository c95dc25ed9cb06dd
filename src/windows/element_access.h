#pragma once

// The small operations every window command shares. Each turns every
// platform failure into an absent, false or empty result; the caller decides
// what that means. Nothing is cached: every call asks the platform afresh.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kestrove {

struct Point {
  double x = 0;
  double y = 0;
};
struct Size {
  double width = 0;
  double height = 0;
};
// A window frame in global top-left points.
struct Frame {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

bool isValidBundleId(std::string_view text);
std::optional<platform::RunningApp> findRunningApp(platform::Platform& p, const std::string& bundleId);
std::vector<platform::Element> appWindows(platform::Platform& p, std::int32_t pid);

std::optional<platform::Value> copyAttribute(platform::Platform& p, const platform::Element& element,
                                             const std::string& name);
std::optional<std::string> readString(platform::Platform& p, const platform::Element& element,
                                      const std::string& name);
std::optional<bool> readBool(platform::Platform& p, const platform::Element& element,
                             const std::string& name);
std::optional<std::pair<double, double>> readAXValue(platform::Platform& p, const platform::Element& element,
                                                     const std::string& name, platform::AxValueType type);
std::optional<Point> readPosition(platform::Platform& p, const platform::Element& element);
std::optional<Size> readSize(platform::Platform& p, const platform::Element& element);
// Position first; the size is not read when the position cannot be.
std::optional<Frame> readFrame(platform::Platform& p, const platform::Element& element);
bool isSettable(platform::Platform& p, const platform::Element& element, const std::string& name);
std::vector<platform::Element> readChildren(platform::Platform& p, const platform::Element& element);
std::optional<std::int64_t> windowNumber(platform::Platform& p, const platform::Element& window);

}  // namespace kestrove
