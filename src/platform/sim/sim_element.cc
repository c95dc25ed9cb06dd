#include "platform/sim/sim_element.h"

namespace kestrove::sim {

std::string ElementKey::describe() const {
  switch (kind) {
    case Kind::Application:
      return "app " + std::to_string(pid);
    case Kind::Window:
      return "window " + std::to_string(window);
    case Kind::Child:
      return "window " + std::to_string(window) + " child " + std::to_string(child);
  }
  return {};
}

bool SimElement::equals(const platform::ElementRef& other) const {
  auto* sim = dynamic_cast<const SimElement*>(&other);
  return sim != nullptr && sim->key_ == key_;
}

std::optional<ElementKey> keyOf(const platform::Element& element) {
  auto* sim = dynamic_cast<const SimElement*>(element.get());
  if (sim == nullptr) return std::nullopt;
  return sim->key();
}

platform::Element makeElement(ElementKey key) { return std::make_shared<const SimElement>(key); }

}  // namespace kestrove::sim
