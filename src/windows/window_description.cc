#include "windows/window_description.h"

#include <string>

#include "windows/element_access.h"
#include "windows/frame_geometry.h"
#include "windows/titlebar.h"
#include "windows/window_json.h"

namespace kestrove {

std::optional<JsonObject> describeWindow(Core& core, const platform::Element& window) {
  platform::Platform& p = core.platform;
  std::optional<Frame> frame = readFrame(p, window);
  // A frame that cannot be written as JSON, or whose content area cannot,
  // would cost the whole listing.
  if (!frame || !isReportable(*frame)) return std::nullopt;
  const TitlebarMeasure titlebar = measureTitlebar(core, window, *frame);
  const Frame content = contentRect(*frame, titlebar.titlebar);

  // Read in a fixed order so that every backend sees the same calls.
  const bool positionSettable = isSettable(p, window, "AXPosition");
  const bool sizeSettable = isSettable(p, window, "AXSize");
  const bool main = readBool(p, window, "AXMain").value_or(false);
  const bool minimized = readBool(p, window, "AXMinimized").value_or(false);
  const bool fullscreen = readBool(p, window, "AXFullScreen").value_or(false);
  std::string subrole = readString(p, window, "AXSubrole").value_or("");
  const std::optional<std::int64_t> number = windowNumber(p, window);

  return JsonObject{
      {"frame", frameObject(*frame)},
      {"content", frameObject(content)},
      {"titlebar", titlebar.titlebar},
      {"titlebarSource", std::string(titlebar.titlebarSource)},
      {"settable", JsonObject{{"position", positionSettable}, {"size", sizeSettable}}},
      {"main", main},
      {"minimized", minimized},
      {"fullscreen", fullscreen},
      {"subrole", std::move(subrole)},
      {"id", windowNumberValue(number)},
  };
}

}  // namespace kestrove
