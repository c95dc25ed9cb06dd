#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrove::platform::win32 {

// An application's name: the executable's base name without ".exe"
// (`C:\Windows\notepad.exe` is "notepad"), as the process image spells it.
std::string executableName(std::string_view imagePath);

// Whether `bundleId` names the process with this image path and, where the
// platform gives one, application user model id: the executable's name
// compared without case (ASCII letters only, as the file system's upper-case
// table does for them), the model id exactly.
bool namesApplication(std::string_view bundleId, std::string_view imagePath,
                      const std::optional<std::string>& userModelId);

}  // namespace kestrove::platform::win32
