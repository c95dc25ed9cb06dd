#pragma once

namespace kestrove::platform::macos {

// How long one Accessibility call may wait for the target application
// before it fails with kAXErrorCannotComplete. The system's default is
// several times longer, long enough for a hung application to stall the
// command and everything behind it; one second still covers a slow but
// healthy application resizing a large window. The core makes no further
// call to an application that timed out during a command, so a command
// costs about one timeout. See docs/macos.md.
inline constexpr float kMessagingTimeoutSeconds = 1.0f;

}  // namespace kestrove::platform::macos
