// AXEnhancedUserInterface: the attribute on app elements, its Boolean writes,
// and frame writes that land late while it is on.
#include <stdexcept>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_platform_impl.h"

namespace kestrove::sim {

namespace ax = platform::ax;

namespace {

double between(double from, double to, int tick) {
  if (tick >= SimPlatform::kFrameAnimationTicks) return to;
  return from + (to - from) * tick / SimPlatform::kFrameAnimationTicks;
}

}  // namespace

void SimPlatform::setEnhancedUserInterface(std::int32_t pid, std::optional<bool> value) {
  auto* app = impl_->findApp(pid);
  if (app == nullptr) throw std::logic_error("sim: unknown app");
  app->enhancedUserInterface = value;
}

std::optional<bool> SimPlatform::enhancedUserInterface(std::int32_t pid) const {
  return app(pid).enhancedUserInterface;
}

std::int32_t SimPlatform::setBoolAttributeValue(const platform::Element& element,
                                                const std::string& attribute, bool value) {
  auto key = keyOf(element);
  log("setBoolAttributeValue", attribute, describe(element));
  auto code = [&]() -> std::int32_t {
    if (!key) return ax::kIllegalArgument;
    if (!trusted_) return ax::kAPIDisabled;
    if (stalls(*key)) return ax::kCannotComplete;
    if (auto fault = Impl::takeFault(impl_->writeFaults, {*key, attribute})) return *fault;
    if (!impl_->isLive(*key)) return ax::kInvalidUIElement;
    if (key->kind != ElementKey::Kind::Application || attribute != "AXEnhancedUserInterface")
      return ax::kAttributeUnsupported;
    auto* app = impl_->findApp(key->pid);
    if (!app->enhancedUserInterface) return ax::kAttributeUnsupported;
    app->enhancedUserInterface = value;
    return ax::kSuccess;
  }();
  flagWrites_.push_back(SimFlagWrite{describe(element), attribute, value, code});
  return code;
}

void SimPlatform::animateTo(WindowId id, double x, double y, double width, double height) {
  auto& state = *impl_->findWindow(id);
  const SimWindow& w = state.data;
  const bool running = state.animation.has_value();
  // Each write starts the way anew from where the window is now.
  state.animation = Impl::FrameAnimation{{w.x, w.y, w.width, w.height}, {x, y, width, height}, 0};
  if (!running) loop_.postAfter(kFrameAnimationTick, [this, id] { animationTick(id); });
}

void SimPlatform::animationTick(WindowId id) {
  auto* state = impl_->findWindow(id);
  if (state == nullptr || !state->animation) return;
  if (!impl_->isLive(ElementKey{ElementKey::Kind::Window, state->pid, id, 0})) {
    state->animation.reset();
    return;
  }
  Impl::FrameAnimation& a = *state->animation;
  const int tick = ++a.ticks;
  const SimRect next{between(a.from.x, a.to.x, tick), between(a.from.y, a.to.y, tick),
                     between(a.from.width, a.to.width, tick), between(a.from.height, a.to.height, tick)};
  const bool done = tick >= kFrameAnimationTicks;
  if (done) state->animation.reset();
  changeFrame(id, next.x, next.y, next.width, next.height);
  if (!done) loop_.postAfter(kFrameAnimationTick, [this, id] { animationTick(id); });
}

}  // namespace kestrove::sim
