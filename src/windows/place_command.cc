#include "windows/place_command.h"

#include <array>
#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include "commands/parse_number.h"
#include "commands/trusted_command.h"
#include "protocol/fail.h"
#include "windows/element_access.h"
#include "windows/enhanced_interface.h"
#include "windows/frame_geometry.h"
#include "windows/frame_write.h"
#include "windows/stream_window.h"
#include "windows/titlebar.h"
#include "windows/window_json.h"

namespace kestrove {

namespace {

constexpr double kMagnitudeLimit = 100000;
constexpr double kMinimumSize = 1;
constexpr double kTitlebarChangeForSecondWrite = 1;

struct ContentRequest {
  double x, y, w, h;
};

ContentRequest parseRequest(const Args& args) {
  std::array<std::optional<double>, 4> numbers;
  for (std::size_t i = 0; i < numbers.size(); ++i) numbers[i] = parseNumber(args[i + 1]);
  for (const std::optional<double>& n : numbers) {
    // Fails for NaN as well as for infinities and huge values.
    if (!n || !(std::abs(*n) < kMagnitudeLimit)) throw Fail("bad_args", "x y w h must be numbers");
  }
  const ContentRequest request{*numbers[0], *numbers[1], *numbers[2], *numbers[3]};
  if (request.w < kMinimumSize || request.h < kMinimumSize) throw Fail("bad_args", "w and h must be >= 1");
  return request;
}

// The window frame whose content area, below a title bar `titlebar` high, is
// the requested rectangle.
Frame targetFrame(const ContentRequest& r, double titlebar) {
  return Frame{r.x, r.y - titlebar, r.w, r.h + titlebar};
}

std::string errorListText(const JsonArray& codes) {
  std::string text = "[";
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(std::get<std::int64_t>(codes[i].value));
  }
  return text + "]";
}

// A read-back that cannot be written as JSON, with its content area,
// counts as no read-back: the window has moved, and the reply must still
// say so.
std::optional<Frame> readBack(platform::Platform& p, const platform::Element& window) {
  std::optional<Frame> frame = readFrame(p, window);
  if (frame && !isReportable(*frame)) return std::nullopt;
  return frame;
}

void appendCodes(JsonArray& list, const std::array<std::int32_t, 3>& codes) {
  for (std::int32_t code : codes) list.emplace_back(static_cast<std::int64_t>(code));
}

// A write the platform could not see take effect before its time ran out
// reads as one that timed out, so the frame read back is not taken for its
// outcome.
void confirmCodes(platform::Platform& p, const platform::Element& window, JsonArray& list, std::size_t from) {
  const std::int32_t outcome = p.confirmWrites(window);
  if (outcome == platform::ax::kSuccess) return;
  for (std::size_t i = from; i < list.size(); ++i) {
    if (list[i] == JsonValue(static_cast<std::int64_t>(platform::ax::kSuccess)))
      list[i] = JsonValue(static_cast<std::int64_t>(outcome));
  }
}

}  // namespace

JsonObject placeCommand(Core& core, const Args& args) {
  if (args.size() != 5 || !isValidBundleId(args[0])) throw Fail("bad_args", "place <bundleId> x y w h");
  const ContentRequest request = parseRequest(args);
  requireTrusted(core);

  platform::Platform& p = core.platform;
  std::optional<platform::RunningApp> app = findRunningApp(p, args[0]);
  if (!app) throw Fail("not_running");
  platform::Element window = findStreamWindow(p, app->pid);
  if (!window) throw Fail("no_stream_window");
  std::optional<Frame> initial = readFrame(p, window);
  if (!initial) throw Fail("no_stream_window");

  TitlebarMeasure titlebar = measureTitlebar(core, window, *initial);
  Frame target = targetFrame(request, titlebar.titlebar);
  // Before the clock starts: "ms" stays the time of the placement itself.
  EnhancedInterfacePause pause(core.gate, p.createApplicationElement(app->pid));
  // Steady, not wall, time: a clock stepped back mid-command must not give a
  // negative duration.
  const auto start = std::chrono::steady_clock::now();

  JsonArray axErrors;
  const std::array<std::int32_t, 3> firstCodes = setWindowFrame(p, window, target);
  appendCodes(axErrors, firstCodes);
  const bool anyWritten = firstCodes[0] == platform::ax::kSuccess ||
                          firstCodes[1] == platform::ax::kSuccess || firstCodes[2] == platform::ax::kSuccess;
  if (!anyWritten) throw Fail("place_failed", "AX errors " + errorListText(axErrors));

  // Read back at once: the platform applies a write before it returns.
  Frame frame = readBack(p, window).value_or(Frame{});
  confirmCodes(p, window, axErrors, 0);
  const TitlebarMeasure after = measureTitlebar(core, window, frame);
  // The title bar can change height once the window has moved or resized
  // (another screen, a toolbar shown only at some sizes): a window that
  // reached the target then shows its content off by the difference. One
  // more write for the new height, never more.
  if (std::abs(after.titlebar - titlebar.titlebar) >= kTitlebarChangeForSecondWrite &&
      framesMatch(frame, target)) {
    titlebar = after;
    target = targetFrame(request, titlebar.titlebar);
    const std::size_t second = axErrors.size();
    appendCodes(axErrors, setWindowFrame(p, window, target));
    frame = readBack(p, window).value_or(frame);
    confirmCodes(p, window, axErrors, second);
  }

  JsonObject reply{
      {"frame", frameObject(frame)},
      {"content", frameObject(contentRect(frame, titlebar.titlebar))},
      {"requested", frameObject(target)},
      {"titlebar", titlebar.titlebar},
      {"titlebarSource", std::string(titlebar.titlebarSource)},
      {"clamped", !framesMatch(frame, target)},
      {"axErrors", std::move(axErrors)},
  };
  const auto elapsed = std::chrono::steady_clock::now() - start;
  reply["ms"] =
      static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  pause.restore();
  reply["id"] = windowNumberValue(windowNumber(p, window));
  return reply;
}

}  // namespace kestrove
