#pragma once

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace kestrove::platform::x11 {

// An application (by pid), a managed client window, the content area of
// one, or the `index`th child a window that draws its own decorations
// published over AT-SPI; equal when of the same kind with the same id.
class X11Element : public ElementRef {
 public:
  enum class Kind { Application, Window, Content, Accessible };

  X11Element(Kind kind, std::uint32_t id, std::size_t index = 0) : kind_(kind), id_(id), index_(index) {}
  bool equals(const ElementRef& other) const override {
    const auto* x = dynamic_cast<const X11Element*>(&other);
    return x && x->kind_ == kind_ && x->id_ == id_ && x->index_ == index_;
  }
  Kind kind() const { return kind_; }
  std::uint32_t id() const { return id_; }
  std::int32_t pid() const { return static_cast<std::int32_t>(id_); }
  xcb_window_t window() const { return id_; }
  std::size_t index() const { return index_; }

 private:
  Kind kind_;
  std::uint32_t id_;
  std::size_t index_;
};

inline Element makeElement(X11Element::Kind kind, std::uint32_t id, std::size_t index = 0) {
  return std::make_shared<const X11Element>(kind, id, index);
}

inline const X11Element* asX11(const Element& element) {
  return dynamic_cast<const X11Element*>(element.get());
}

}  // namespace kestrove::platform::x11
