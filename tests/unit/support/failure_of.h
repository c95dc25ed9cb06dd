#pragma once

#include <string>

#include "protocol/fail.h"

namespace kestrove::testing {

// The error a handler raised, as "code" or "code: detail"; "" when none.
template <typename Fn>
std::string failureOf(Fn&& fn) {
  try {
    fn();
  } catch (const Fail& f) {
    return f.detail() ? f.code() + ": " + *f.detail() : f.code();
  }
  return "";
}

}  // namespace kestrove::testing
