#pragma once

namespace kestrove::platform::macos {

// How long one Accessibility call may wait for the target application
// before it fails with kAXErrorCannotComplete. The system default is about
// six seconds, long enough for a hung application to stall every command
// behind it; one second still covers a slow but healthy application
// resizing a large window. See docs/macos.md.
inline constexpr float kMessagingTimeoutSeconds = 1.0f;

}  // namespace kestrove::platform::macos
