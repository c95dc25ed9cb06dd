#include "observation/window_events.h"

#include <optional>
#include <utility>

#include "displays/rect_object.h"
#include "observation/notification_names.h"
#include "windows/element_access.h"
#include "windows/frame_geometry.h"

namespace kestrove {
namespace {

void emitWindowClosed(Core& core, Observation& obs, const platform::Element& element) {
  // The number recorded at registration: a closed window can no longer say it.
  const std::optional<WatchedWindow> entry = obs.unwatchWindow(element);
  JsonValue id = nullptr;
  if (entry && entry->id) id = *entry->id;
  core.writer.emit(JsonObject{{"event", "window_closed"}, {"bundleId", obs.bundle}, {"id", id}});
}

}  // namespace

void handleWindowNotification(Core& core, const platform::Element& element, const std::string& notification,
                              const void* context) {
  if (context == nullptr || core.state.activeObservation.get() != context) return;
  // An event is a unit of its own, like a command: the application is asked afresh.
  core.gate.beginScope();
  // Keeps the observation alive should an emit end it.
  const std::shared_ptr<Observation> obs = core.state.activeObservation;
  if (notification == notification::kWindowMoved) {
    emitWindowEvent(core, "moved", *obs, element);
  } else if (notification == notification::kWindowResized) {
    emitWindowEvent(core, "resized", *obs, element);
  } else if (notification == notification::kWindowCreated) {
    obs->watchWindow(element);
    emitWindowEvent(core, "window_created", *obs, element);
  } else if (notification == notification::kElementDestroyed) {
    emitWindowClosed(core, *obs, element);
  }
}

void emitWindowEvent(Core& core, const std::string& name, const Observation& obs,
                     const platform::Element& element) {
  JsonObject event{{"event", name}, {"bundleId", obs.bundle}};
  // A frame JSON cannot carry counts as unreadable: the event still goes out.
  const std::optional<Frame> frame = readFrame(core.platform, element);
  if (frame && isFinite(*frame)) {
    event["frame"] = rectObject(frame->x, frame->y, frame->width, frame->height);
    const std::optional<std::int64_t> id = windowNumber(core.platform, element);
    event["id"] = id ? JsonValue(*id) : JsonValue(nullptr);
  }
  core.writer.emit(event);
}

void onAppTerminated(Core& core, const platform::TerminationNotice& notice, std::int32_t pid,
                     std::shared_ptr<Observation> obs, std::string bundle) {
  if (!notice.pid || *notice.pid != pid) return;
  if (!obs || core.state.activeObservation != obs) return;
  core.gate.beginScope();
  obs->teardown();
  core.state.activeObservation = nullptr;
  core.writer.emit(JsonObject{{"event", "app_quit"}, {"bundleId", bundle}});
}

}  // namespace kestrove
