#include "platform/win32/portable/app_identity.h"

#include <cstddef>

namespace kestrove::platform::win32 {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace

std::string executableName(std::string_view imagePath) {
  std::size_t slash = imagePath.find_last_of("\\/");
  std::string_view base = slash == std::string_view::npos ? imagePath : imagePath.substr(slash + 1);
  constexpr std::string_view kExe = ".exe";
  if (base.size() > kExe.size() && equalsIgnoringCase(base.substr(base.size() - kExe.size()), kExe))
    base.remove_suffix(kExe.size());
  return std::string(base);
}

bool namesApplication(std::string_view bundleId, std::string_view imagePath,
                      const std::optional<std::string>& userModelId) {
  if (bundleId.empty()) return false;
  if (userModelId && *userModelId == bundleId) return true;
  std::string name = executableName(imagePath);
  return !name.empty() && equalsIgnoringCase(name, bundleId);
}

}  // namespace kestrove::platform::win32
