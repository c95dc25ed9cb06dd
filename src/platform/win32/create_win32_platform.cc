#include "platform/create_platform.h"
#include "platform/win32/portable/win32_platform.h"
#include "platform/win32/real_win32_api.h"
#include "platform/win32/win32_main_loop.h"

namespace kestrove::platform {
namespace {

// The loop and the Win32 layer live as long as the backend over them.
class Win32Backend : public win32::Win32Platform {
 public:
  Win32Backend(std::unique_ptr<win32::Win32MainLoop> loop, std::unique_ptr<win32::Win32Api> api)
      : Win32Platform(*api, *loop), loop_(std::move(loop)), api_(std::move(api)) {}

 private:
  std::unique_ptr<win32::Win32MainLoop> loop_;
  std::unique_ptr<win32::Win32Api> api_;
};

}  // namespace

std::unique_ptr<Platform> createPlatform() {
  auto loop = std::make_unique<win32::Win32MainLoop>();
  auto api = win32::makeRealWin32Api(*loop);
  return std::make_unique<Win32Backend>(std::move(loop), std::move(api));
}

}  // namespace kestrove::platform
