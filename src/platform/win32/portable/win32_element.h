#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "platform/win32/portable/win32_api.h"

namespace kestrove::platform::win32 {

// An application (by pid), a top-level window (by HWND) or its client area;
// equal when of the same kind with the same id.
class Win32Element : public ElementRef {
 public:
  enum class Kind { Application, Window, Content };

  Win32Element(Kind kind, std::uint64_t id, std::uint32_t pid) : kind_(kind), id_(id), pid_(pid) {}
  bool equals(const ElementRef& other) const override {
    const auto* w = dynamic_cast<const Win32Element*>(&other);
    return w && w->kind_ == kind_ && w->id_ == id_;
  }
  std::optional<std::int32_t> processId() const override { return static_cast<std::int32_t>(pid_); }
  Kind kind() const { return kind_; }
  std::uint32_t pid() const { return pid_; }
  WindowHandle window() const { return id_; }

 private:
  Kind kind_;
  std::uint64_t id_;
  std::uint32_t pid_;
};

inline Element makeElement(Win32Element::Kind kind, std::uint64_t id, std::uint32_t pid) {
  return std::make_shared<const Win32Element>(kind, id, pid);
}

inline const Win32Element* asWin32(const Element& element) {
  return dynamic_cast<const Win32Element*>(element.get());
}

}  // namespace kestrove::platform::win32
