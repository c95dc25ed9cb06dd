#pragma once

// One owner of one CoreFoundation reference. Copies retain, the last owner
// releases; nothing is released twice and nothing leaks.

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace kestrove::platform::macos {

template <typename T>
class CfRef {
 public:
  CfRef() = default;
  // Takes over a reference from a Create or Copy function.
  static CfRef adopt(T ref) {
    CfRef owned;
    owned.ref_ = ref;
    return owned;
  }
  // Keeps a reference got without ownership (a Get function, a callback).
  static CfRef retain(T ref) {
    if (ref != nullptr) CFRetain(ref);
    return adopt(ref);
  }

  CfRef(const CfRef& other) : ref_(other.ref_) {
    if (ref_ != nullptr) CFRetain(ref_);
  }
  CfRef(CfRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CfRef& operator=(CfRef other) noexcept {
    std::swap(ref_, other.ref_);
    return *this;
  }
  ~CfRef() {
    if (ref_ != nullptr) CFRelease(ref_);
  }

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // Gives up ownership without releasing.
  T release() { return std::exchange(ref_, nullptr); }

 private:
  T ref_ = nullptr;
};

}  // namespace kestrove::platform::macos
