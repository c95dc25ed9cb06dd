#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace kestrove::platform::x11 {

// An application (by pid), a managed client window, or the content area of
// one; equal when of the same kind with the same id.
class X11Element : public ElementRef {
 public:
  enum class Kind { Application, Window, Content };

  X11Element(Kind kind, std::uint32_t id) : kind_(kind), id_(id) {}
  bool equals(const ElementRef& other) const override {
    const auto* x = dynamic_cast<const X11Element*>(&other);
    return x && x->kind_ == kind_ && x->id_ == id_;
  }
  Kind kind() const { return kind_; }
  std::uint32_t id() const { return id_; }
  std::int32_t pid() const { return static_cast<std::int32_t>(id_); }
  xcb_window_t window() const { return id_; }

 private:
  Kind kind_;
  std::uint32_t id_;
};

inline Element makeElement(X11Element::Kind kind, std::uint32_t id) {
  return std::make_shared<const X11Element>(kind, id);
}

inline const X11Element* asX11(const Element& element) {
  return dynamic_cast<const X11Element*>(element.get());
}

}  // namespace kestrove::platform::x11
