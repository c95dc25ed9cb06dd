#include "platform/x11/key_watch.h"

#include <xcb/xinput.h>

#include <vector>

#include "platform/x11/xkb_include.h"

namespace kestrove::platform::x11 {
namespace {

constexpr std::uint32_t kEscapeKeysym = 0xff1b;
constexpr std::uint16_t kEscapeKeyCode = 53;

class KeyToken : public TokenRef {
 public:
  explicit KeyToken(std::uint64_t tokenId) : id(tokenId) {}
  std::uint64_t id;
};

std::set<std::uint32_t> escapeKeycodes(xcb_connection_t* c) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  XcbReply<xcb_get_keyboard_mapping_reply_t> reply(
      xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, setup->min_keycode, count), nullptr));
  std::set<std::uint32_t> codes;
  if (!reply || reply->keysyms_per_keycode == 0) return codes;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
  int total = xcb_get_keyboard_mapping_keysyms_length(reply.get());
  for (int i = 0; i < total; ++i) {
    if (syms[i] == kEscapeKeysym) codes.insert(setup->min_keycode + i / reply->keysyms_per_keycode);
  }
  return codes;
}

}  // namespace

Token KeyWatch::add(KeyCallback callback) {
  xcb_connection_t* c = connection_.get();
  if (!c || !connection_.extensions().xinput22) return nullptr;
  if (selectedGeneration_ != connection_.generation()) {
    if (!select(c, true)) return nullptr;
    escapeKeycodes_ = escapeKeycodes(c);
    selectedGeneration_ = connection_.generation();
  }
  std::uint64_t id = nextId_++;
  callbacks_[id] = std::move(callback);
  return std::make_shared<KeyToken>(id);
}

void KeyWatch::remove(const Token& token) {
  auto* key = dynamic_cast<KeyToken*>(token.get());
  if (!key || !callbacks_.erase(key->id) || !callbacks_.empty()) return;
  xcb_connection_t* c = connection_.current();
  if (c && selectedGeneration_ == connection_.generation()) select(c, false);
  selectedGeneration_ = 0;
}

bool KeyWatch::select(xcb_connection_t* c, bool on) {
  struct {
    xcb_input_event_mask_t head;
    std::uint32_t bits;
  } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
         on ? std::uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE)
            : 0u};
  auto cookie = xcb_input_xi_select_events_checked(c, connection_.root(), 1, &mask.head);
  XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
  return !error;
}

std::uint64_t KeyWatch::modifierFlags(xcb_connection_t* c) {
  if (!connection_.extensions().xkb) return 0;
  XcbReply<xcb_xkb_get_state_reply_t> state(
      xcb_xkb_get_state_reply(c, xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
  if (!state) return 0;
  std::uint64_t flags = 0;
  if (state->mods & XCB_MOD_MASK_SHIFT) flags |= modifier::kShift;
  if (state->mods & XCB_MOD_MASK_CONTROL) flags |= modifier::kControl;
  if (state->mods & XCB_MOD_MASK_1) flags |= modifier::kOption;
  if (state->mods & XCB_MOD_MASK_4) flags |= modifier::kCommand;
  return flags;
}

bool KeyWatch::handle(const xcb_generic_event_t& event) {
  if ((event.response_type & 0x7f) != XCB_GE_GENERIC) return false;
  const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
  if (generic.extension != connection_.extensions().xinputOpcode) return false;
  if (generic.event_type != XCB_INPUT_RAW_KEY_PRESS && generic.event_type != XCB_INPUT_RAW_KEY_RELEASE)
    return false;
  const auto& raw = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event);
  if (callbacks_.empty() || !escapeKeycodes_.count(raw.detail)) return true;
  xcb_connection_t* c = connection_.current();
  if (!c) return true;
  KeyEvent key;
  key.keyCode = kEscapeKeyCode;
  key.isDown = generic.event_type == XCB_INPUT_RAW_KEY_PRESS;
  key.isRepeat = false;
  key.modifierFlags = modifierFlags(c);
  // Copied: a callback may remove its own monitor.
  std::vector<KeyCallback> callbacks;
  for (auto& [id, callback] : callbacks_) callbacks.push_back(callback);
  for (auto& callback : callbacks) callback(key);
  return true;
}

void KeyWatch::connected() {
  xcb_connection_t* c = connection_.current();
  if (callbacks_.empty() || !c || !connection_.extensions().xinput22) return;
  if (!select(c, true)) return;
  escapeKeycodes_ = escapeKeycodes(c);
  selectedGeneration_ = connection_.generation();
}

void KeyWatch::connectionLost() {
  selectedGeneration_ = 0;
  escapeKeycodes_.clear();
}

}  // namespace kestrove::platform::x11
