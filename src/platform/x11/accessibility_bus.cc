#include "platform/x11/accessibility_bus.h"

#include "platform/x11/sd_bus_library.h"

namespace kestrove::platform::x11 {
namespace {

struct Pending {
  sd_bus_slot* slot = nullptr;
  sd_bus_message* reply = nullptr;
  bool done = false;
};

int collect(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* pending = static_cast<Pending*>(userdata);
  pending->done = true;
  // A failed call (an error reply, or the timeout's) leaves the reply empty.
  if (!sdBus()->isMethodError(message, nullptr)) pending->reply = sdBus()->messageRef(message);
  return 1;
}

std::uint64_t microsecondsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 0;
}

}  // namespace

BusReply::~BusReply() {
  if (message_) sdBus()->messageUnref(message_);
}

BusReply& BusReply::operator=(BusReply&& other) noexcept {
  if (this != &other) {
    if (message_) sdBus()->messageUnref(message_);
    message_ = std::exchange(other.message_, nullptr);
  }
  return *this;
}

std::optional<std::uint32_t> BusReply::number() {
  std::uint32_t value = 0;
  if (!message_ || sdBus()->read(message_, "u", &value) <= 0) return std::nullopt;
  return value;
}

std::optional<std::string> BusReply::string() {
  const char* value = nullptr;
  if (!message_ || sdBus()->read(message_, "s", &value) <= 0 || !value) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> BusReply::variantString() {
  if (!message_ || sdBus()->enterContainer(message_, 'v', "s") <= 0) return std::nullopt;
  auto value = string();
  sdBus()->exitContainer(message_);
  return value;
}

std::optional<std::vector<std::string>> BusReply::strings() {
  if (!message_ || sdBus()->enterContainer(message_, 'a', "s") <= 0) return std::nullopt;
  std::vector<std::string> values;
  const char* value = nullptr;
  while (sdBus()->read(message_, "s", &value) > 0) values.emplace_back(value ? value : "");
  sdBus()->exitContainer(message_);
  return values;
}

std::optional<std::vector<std::pair<std::string, std::string>>> BusReply::objects() {
  if (!message_ || sdBus()->enterContainer(message_, 'a', "(so)") <= 0) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> values;
  const char* name = nullptr;
  const char* path = nullptr;
  while (sdBus()->read(message_, "(so)", &name, &path) > 0)
    values.emplace_back(name ? name : "", path ? path : "");
  sdBus()->exitContainer(message_);
  return values;
}

std::optional<std::vector<std::int32_t>> BusReply::rect() {
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  if (!message_ || sdBus()->read(message_, "(iiii)", &x, &y, &width, &height) <= 0) return std::nullopt;
  return std::vector<std::int32_t>{x, y, width, height};
}

AccessibilityBus::~AccessibilityBus() { close(); }

void AccessibilityBus::close() {
  if (bus_) sdBus()->closeUnref(bus_);
  bus_ = nullptr;
  address_.clear();
}

bool AccessibilityBus::open(const std::string& address) {
  if (bus_ && address == address_) return true;
  close();
  const SdBus* f = sdBus();
  if (!f || address.empty()) return false;
  sd_bus* bus = nullptr;
  if (f->busNew(&bus) < 0) return false;
  // The handshake runs as the first calls are processed, within their bound.
  if (f->setAddress(bus, address.c_str()) < 0 || f->setBusClient(bus, 1) < 0 || f->start(bus) < 0) {
    f->closeUnref(bus);
    return false;
  }
  bus_ = bus;
  address_ = address;
  return true;
}

std::vector<BusReply> AccessibilityBus::call(const std::vector<BusCall>& calls,
                                             std::chrono::steady_clock::time_point deadline) {
  std::vector<BusReply> replies(calls.size());
  const SdBus* f = sdBus();
  if (!bus_ || !f) return replies;
  std::vector<Pending> pending(calls.size());
  std::size_t waiting = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const BusCall& c = calls[i];
    sd_bus_message* message = nullptr;
    if (f->newMethodCall(bus_, &message, c.destination.c_str(), c.path.c_str(), c.interface.c_str(),
                         c.member.c_str()) < 0) {
      continue;
    }
    int appended = 0;
    if (c.number) appended = f->append(message, "u", *c.number);
    if (appended >= 0 && c.strings.size() == 1) appended = f->append(message, "s", c.strings[0].c_str());
    if (appended >= 0 && c.strings.size() == 2) {
      appended = f->append(message, "ss", c.strings[0].c_str(), c.strings[1].c_str());
    }
    // A bound of 0 would mean the library's default of 25 s.
    std::uint64_t bound = std::max<std::uint64_t>(1, microsecondsUntil(deadline));
    if (appended >= 0 && f->callAsync(bus_, &pending[i].slot, message, collect, &pending[i], bound) >= 0)
      ++waiting;
    f->messageUnref(message);
  }
  bool broken = false;
  auto done = [&] {
    std::size_t count = 0;
    for (const Pending& p : pending) count += p.done;
    return count;
  };
  while (done() < waiting && !broken) {
    int processed = f->process(bus_, nullptr);
    if (processed < 0) broken = true;
    if (processed != 0) continue;
    std::uint64_t left = microsecondsUntil(deadline);
    if (left == 0) break;
    if (f->wait(bus_, left) < 0) broken = true;
  }
  for (std::size_t i = 0; i < pending.size(); ++i) {
    // Unanswered calls are cancelled with their slot.
    if (pending[i].slot) f->slotUnref(pending[i].slot);
    replies[i] = BusReply(pending[i].reply);
  }
  if (broken) close();
  return replies;
}

}  // namespace kestrove::platform::x11
