#include "platform/x11/element_attributes.h"

#include <algorithm>

#include "platform/x11/frame_shape.h"

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
  if (info.tiled) return false;
  if (!info.allowedActions) return true;
  const auto& actions = *info.allowedActions;
  return std::find(actions.begin(), actions.end(), action) != actions.end();
}

const AccessibleWindow* drawnDecorations(ElementContext& context, xcb_window_t window,
                                         const ClientInfo& info) {
  return mayDrawOwnTitlebar(info) ? context.accessibility.window(context.snapshot, window, info) : nullptr;
}

AttributeRead rectAttribute(const DesktopSnapshot& snapshot, const RootRect& r,
                            const std::string& attribute) {
  if (attribute == "AXPosition") return point(r.x - snapshot.originX(), r.y - snapshot.originY());
  return size(r.width, r.height);
}

AttributeRead windowAttribute(ElementContext& context, xcb_window_t window, const std::string& attribute) {
  const DesktopSnapshot& snapshot = context.snapshot;
  const ClientInfo* info = snapshot.client(window);
  if (!info) return failure(ax::kInvalidUIElement);
  if (attribute == "AXPosition" || attribute == "AXSize" || attribute == "AXChildren") {
    const AccessibleWindow* drawn = drawnDecorations(context, window, *info);
    std::optional<FrameExtents> border;
    if (drawn) border = drawn->border;
    const RootRect frame = frameOf(info->content, frameInsets(*info, border));
    if (attribute != "AXChildren") return rectAttribute(snapshot, frame, attribute);
    std::vector<Element> children;
    if (!drawn) {
      // A window that may draw its own title bar and whose tree could not
      // be read says nothing about it, so that the title bar reads as not
      // measured rather than as measured 0.
      if (!mayDrawOwnTitlebar(*info)) children.push_back(makeElement(X11Element::Kind::Content, window));
    } else {
      for (std::size_t i = 0; i < drawn->children.size(); ++i) {
        children.push_back(makeElement(X11Element::Kind::Accessible, window, i));
      }
    }
    return value(std::move(children));
  }
  if (attribute == "AXMinimized") return flag(info->hidden);
  if (attribute == "AXFullScreen") return flag(info->fullscreen);
  if (attribute == "AXMain") return flag(isMain(snapshot, window, *info));
  if (attribute == "AXRole") return value(std::string("AXWindow"));
  if (attribute == "AXSubrole") return value(subrole(context.atoms, info->windowType));
  return failure(ax::kAttributeUnsupported);
}

// Below the manager's title bar, or the whole frame of a window that draws
// its own and publishes nothing about it.
AttributeRead contentAttribute(ElementContext& context, xcb_window_t window, const std::string& attribute) {
  const ClientInfo* info = context.snapshot.client(window);
  if (!info) return failure(ax::kInvalidUIElement);
  if (attribute == "AXPosition" || attribute == "AXSize") {
    RootRect frame = frameOf(info->content, frameInsets(*info, std::nullopt));
    frame.y += info->extents.top;
    frame.height -= info->extents.top;
    return rectAttribute(context.snapshot, frame, attribute);
  }
  if (attribute == "AXRole") return value(std::string("AXGroup"));
  if (attribute == "AXChildren") return value(std::vector<Element>{});
  return failure(ax::kAttributeUnsupported);
}

AttributeRead accessibleAttribute(ElementContext& context, const X11Element& element,
                                  const std::string& attribute) {
  const ClientInfo* info = context.snapshot.client(element.window());
  if (!info) return failure(ax::kInvalidUIElement);
  const AccessibleWindow* drawn = drawnDecorations(context, element.window(), *info);
  if (!drawn || element.index() >= drawn->children.size()) return failure(ax::kInvalidUIElement);
  const AccessibleChild& child = drawn->children[element.index()];
  if (attribute == "AXPosition" || attribute == "AXSize")
    return rectAttribute(context.snapshot, child.rect, attribute);
  if (attribute == "AXRole") return value(child.role);
  if (attribute == "AXSubrole") {
    return child.subrole.empty() ? failure(ax::kNoValue) : value(child.subrole);
  }
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

AttributeRead readAttribute(ElementContext& context, const X11Element& element,
                            const std::string& attribute) {
  switch (element.kind()) {
    case X11Element::Kind::Application:
      return applicationAttribute(context.snapshot, element.pid(), attribute);
    case X11Element::Kind::Window:
      return windowAttribute(context, element.window(), attribute);
    case X11Element::Kind::Content:
      return contentAttribute(context, element.window(), attribute);
    case X11Element::Kind::Accessible:
      return accessibleAttribute(context, element, attribute);
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
