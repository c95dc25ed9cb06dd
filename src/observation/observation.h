#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kestrove {

// A window on which the destruction notification is registered, with the
// number it had then (reported when it closes, since a closed window has none).
struct WatchedWindow {
  platform::Element element;
  std::optional<std::int64_t> id;
};

// One observation of one application. Its address is the context of every
// registration it makes, so a notification can be matched to the observation
// that is current. Destruction removes no registration: teardown does.
class Observation {
 public:
  Observation(platform::Platform& platform, std::string bundle, std::int32_t pid,
              platform::Observer observer);
  Observation(const Observation&) = delete;
  Observation& operator=(const Observation&) = delete;

  // Registers the window's destruction and records it, once per element.
  void watchWindow(const platform::Element& element);
  // Removes every registration this observation made.
  void teardown();
  // Takes the first entry for `element` out of `watched`, dropping its
  // destruction registration; none when it was not watched.
  std::optional<WatchedWindow> unwatchWindow(const platform::Element& element);

  const void* context() const { return this; }

  const std::string bundle;
  const std::int32_t pid;
  const platform::Observer observer;
  const platform::Element appEl;
  std::vector<WatchedWindow> watched;
  platform::Token quitToken;

 private:
  platform::Platform& platform_;
};

}  // namespace kestrove
