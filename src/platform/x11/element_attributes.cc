#include "platform/x11/element_attributes.h"

#include <algorithm>

namespace kestrove::platform::x11 {
namespace {

AttributeRead value(Value v) { return AttributeRead{ax::kSuccess, std::move(v)}; }
AttributeRead failure(std::int32_t code) { return AttributeRead{code, std::nullopt}; }
AttributeRead point(double x, double y) { return value(AxValue{static_cast<int>(AxValueType::Point), x, y}); }
AttributeRead size(double w, double h) { return value(AxValue{static_cast<int>(AxValueType::Size), w, h}); }
AttributeRead flag(bool on) { return value(Number{on ? 1.0 : 0.0}); }

std::vector<xcb_window_t> windowsOf(const DesktopSnapshot& snapshot, std::int32_t pid) {
  std::vector<xcb_window_t> windows;
  for (xcb_window_t w : snapshot.clients()) {
    const ClientInfo* info = snapshot.client(w);
    if (info && info->pid == pid) windows.push_back(w);
  }
  return windows;
}

// The active window when it is the app's, else the app's topmost one.
bool isMain(const DesktopSnapshot& snapshot, xcb_window_t window, const ClientInfo& info) {
  if (!info.pid) return false;
  auto mine = windowsOf(snapshot, *info.pid);
  auto owns = [&](xcb_window_t w) { return std::find(mine.begin(), mine.end(), w) != mine.end(); };
  if (snapshot.activeWindow() != XCB_WINDOW_NONE && owns(snapshot.activeWindow())) {
    return snapshot.activeWindow() == window;
  }
  const auto& stacking = snapshot.stacking();
  for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
    if (owns(*it)) return *it == window;
  }
  return false;
}

std::string subrole(const Atoms& atoms, xcb_atom_t type) {
  if (type == XCB_ATOM_NONE || type == atoms[Atom::NetWmWindowTypeNormal]) return "AXStandardWindow";
  if (type == atoms[Atom::NetWmWindowTypeDialog]) return "AXDialog";
  if (type == atoms[Atom::NetWmWindowTypeUtility]) return "AXFloatingWindow";
  return "AXUnknown";
}

bool allows(const ClientInfo& info, xcb_atom_t action) {
  if (!info.allowedActions) return true;
  const auto& actions = *info.allowedActions;
  return std::find(actions.begin(), actions.end(), action) != actions.end();
}

AttributeRead windowAttribute(const DesktopSnapshot& snapshot, const Atoms& atoms, xcb_window_t window,
                              const std::string& attribute) {
  const ClientInfo* info = snapshot.client(window);
  if (!info) return failure(ax::kInvalidUIElement);
  double x = info->content.x - snapshot.originX();
  double top = info->extents.top;
  double y = info->content.y - snapshot.originY() - top;
  if (attribute == "AXPosition") return point(x, y);
  if (attribute == "AXSize") return size(info->content.width, info->content.height + top);
  if (attribute == "AXChildren") {
    return value(std::vector<Element>{makeElement(X11Element::Kind::Content, window)});
  }
  if (attribute == "AXMinimized") return flag(info->hidden);
  if (attribute == "AXFullScreen") return flag(info->fullscreen);
  if (attribute == "AXMain") return flag(isMain(snapshot, window, *info));
  if (attribute == "AXRole") return value(std::string("AXWindow"));
  if (attribute == "AXSubrole") return value(subrole(atoms, info->windowType));
  return failure(ax::kAttributeUnsupported);
}

AttributeRead contentAttribute(const DesktopSnapshot& snapshot, xcb_window_t window,
                               const std::string& attribute) {
  const ClientInfo* info = snapshot.client(window);
  if (!info) return failure(ax::kInvalidUIElement);
  if (attribute == "AXPosition") {
    return point(info->content.x - snapshot.originX(), info->content.y - snapshot.originY());
  }
  if (attribute == "AXSize") return size(info->content.width, info->content.height);
  if (attribute == "AXRole") return value(std::string("AXGroup"));
  if (attribute == "AXChildren") return value(std::vector<Element>{});
  return failure(ax::kAttributeUnsupported);
}

AttributeRead applicationAttribute(const DesktopSnapshot& snapshot, std::int32_t pid,
                                   const std::string& attribute) {
  if (attribute == "AXWindows") {
    std::vector<Element> windows;
    for (xcb_window_t w : windowsOf(snapshot, pid))
      windows.push_back(makeElement(X11Element::Kind::Window, w));
    return value(std::move(windows));
  }
  if (attribute == "AXRole") return value(std::string("AXApplication"));
  return failure(ax::kAttributeUnsupported);
}

}  // namespace

AttributeRead readAttribute(const DesktopSnapshot& snapshot, const Atoms& atoms, const X11Element& element,
                            const std::string& attribute) {
  switch (element.kind()) {
    case X11Element::Kind::Application:
      return applicationAttribute(snapshot, element.pid(), attribute);
    case X11Element::Kind::Window:
      return windowAttribute(snapshot, atoms, element.window(), attribute);
    case X11Element::Kind::Content:
      return contentAttribute(snapshot, element.window(), attribute);
  }
  return failure(ax::kFailure);
}

SettableRead readSettable(const DesktopSnapshot& snapshot, const Atoms& atoms, const X11Element& element,
                          const std::string& attribute) {
  if (element.kind() != X11Element::Kind::Window) {
    bool known = snapshot.client(element.window()) || element.kind() == X11Element::Kind::Application;
    return SettableRead{known ? ax::kSuccess : ax::kInvalidUIElement, false};
  }
  const ClientInfo* info = snapshot.client(element.window());
  if (!info) return SettableRead{ax::kInvalidUIElement, false};
  if (attribute == "AXPosition")
    return SettableRead{ax::kSuccess, allows(*info, atoms[Atom::NetWmActionMove])};
  if (attribute == "AXSize") return SettableRead{ax::kSuccess, allows(*info, atoms[Atom::NetWmActionResize])};
  return SettableRead{ax::kSuccess, false};
}

}  // namespace kestrove::platform::x11
