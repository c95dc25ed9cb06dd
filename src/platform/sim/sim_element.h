#pragma once

#include <compare>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim_world.h"

namespace kestrove::sim {

// What a sim element denotes. Equal keys are the same element, whichever
// object carries them.
struct ElementKey {
  enum class Kind { Application, Window, Child };
  Kind kind = Kind::Application;
  std::int32_t pid = 0;
  WindowId window = 0;
  std::size_t child = 0;

  auto operator<=>(const ElementKey&) const = default;
  std::string describe() const;
};

class SimElement : public platform::ElementRef {
 public:
  explicit SimElement(ElementKey key) : key_(key) {}
  bool equals(const platform::ElementRef& other) const override;
  std::optional<std::int32_t> processId() const override { return key_.pid; }
  const ElementKey& key() const { return key_; }

 private:
  ElementKey key_;
};

// The key of a sim element; none for null or foreign elements.
std::optional<ElementKey> keyOf(const platform::Element& element);
platform::Element makeElement(ElementKey key);

}  // namespace kestrove::sim
