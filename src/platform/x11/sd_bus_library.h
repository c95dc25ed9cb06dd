#pragma once

#include <systemd/sd-bus.h>

namespace kestrove::platform::x11 {

// The sd-bus functions the accessibility reader calls, from libsystemd loaded
// on first need: linked normally, the library and the half dozen it pulls in
// would cost every start of the helper, `version` included, load time.
struct SdBus {
  decltype(&sd_bus_new) busNew;
  decltype(&sd_bus_set_address) setAddress;
  decltype(&sd_bus_set_bus_client) setBusClient;
  decltype(&sd_bus_start) start;
  decltype(&sd_bus_flush_close_unref) closeUnref;
  decltype(&sd_bus_get_fd) getFd;
  decltype(&sd_bus_process) process;
  decltype(&sd_bus_wait) wait;
  decltype(&sd_bus_message_new_method_call) newMethodCall;
  decltype(&sd_bus_message_append) append;
  decltype(&sd_bus_call_async) callAsync;
  decltype(&sd_bus_message_ref) messageRef;
  decltype(&sd_bus_message_unref) messageUnref;
  decltype(&sd_bus_message_is_method_error) isMethodError;
  decltype(&sd_bus_message_read) read;
  decltype(&sd_bus_message_enter_container) enterContainer;
  decltype(&sd_bus_message_exit_container) exitContainer;
  decltype(&sd_bus_slot_unref) slotUnref;
};

// Null when libsystemd cannot be loaded or lacks a function; loaded once.
const SdBus* sdBus();

}  // namespace kestrove::platform::x11
