#include "platform/x11/sd_bus_library.h"

#include <dlfcn.h>

namespace kestrove::platform::x11 {
namespace {

template <typename F>
bool load(void* library, F& slot, const char* name) {
  slot = reinterpret_cast<F>(dlsym(library, name));
  return slot != nullptr;
}

const SdBus* loadSdBus() {
  void* library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  static SdBus functions;
  SdBus& f = functions;
  bool complete =
      load(library, f.busNew, "sd_bus_new") && load(library, f.setAddress, "sd_bus_set_address") &&
      load(library, f.setBusClient, "sd_bus_set_bus_client") && load(library, f.start, "sd_bus_start") &&
      load(library, f.closeUnref, "sd_bus_flush_close_unref") && load(library, f.getFd, "sd_bus_get_fd") &&
      load(library, f.process, "sd_bus_process") && load(library, f.wait, "sd_bus_wait") &&
      load(library, f.newMethodCall, "sd_bus_message_new_method_call") &&
      load(library, f.append, "sd_bus_message_append") && load(library, f.callAsync, "sd_bus_call_async") &&
      load(library, f.messageRef, "sd_bus_message_ref") &&
      load(library, f.messageUnref, "sd_bus_message_unref") &&
      load(library, f.isMethodError, "sd_bus_message_is_method_error") &&
      load(library, f.read, "sd_bus_message_read") &&
      load(library, f.enterContainer, "sd_bus_message_enter_container") &&
      load(library, f.exitContainer, "sd_bus_message_exit_container") &&
      load(library, f.slotUnref, "sd_bus_slot_unref");
  // The library stays loaded for the life of the process either way.
  return complete ? &functions : nullptr;
}

}  // namespace

const SdBus* sdBus() {
  static const SdBus* loaded = loadSdBus();
  return loaded;
}

}  // namespace kestrove::platform::x11
