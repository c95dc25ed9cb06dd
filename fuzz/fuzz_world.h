#pragma once

// A populated simulated desktop chosen by the fuzzer's input, and the
// harness's own lines ("!" directives) that act on it as its users and apps
// would: keys, moves, new and closed windows, quitting, time passing.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/sim/sim_platform.h"

namespace kestrove::fuzz {

// Bundle ids of the world's apps; seeds name them in commands.
inline constexpr char kViewer[] = "com.example.viewer";
inline constexpr char kEditor[] = "com.example.editor";

class FuzzWorld {
 public:
  // Screens, apps, windows with children, faults and settings, all from
  // `genes` (a few dozen bytes give a full world; missing bytes give zeros).
  explicit FuzzWorld(FuzzedDataProvider& genes);

  sim::SimPlatform& sim() { return sim_; }

  // Runs a directive line (it starts with "!"); unknown ones do nothing.
  //   !wait MS             time passes (at most 20 s)
  //   !key [CODE] [d|u|r] [FLAGS]   a key-down, key-up or auto-repeat
  //   !move I X Y, !resize I W H    the user moves or resizes window I
  //   !create [P]          app P opens a window      !close I
  //   !raise I             window I comes to the front of its app's list
  //   !quit [P]            app P quits                !notice [P]  a raw termination notice
  // I and P index the windows and apps made so far, modulo their number.
  void runDirective(std::string_view line);

 private:
  sim::SimWindow window(FuzzedDataProvider& genes) const;
  void addFaults(FuzzedDataProvider& genes, const platform::Element& element);
  sim::WindowId windowAt(std::int64_t index) const;
  std::int32_t pidAt(std::int64_t index) const;

  sim::SimPlatform sim_;
  std::vector<sim::WindowId> windows_;
  std::vector<std::int32_t> pids_;
};

}  // namespace kestrove::fuzz
