#include "world_loader.h"

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <tuple>

#include "world_values.h"

namespace kestrove::simdriver {

namespace {

using sim::SimChild;
using sim::SimPlatform;
using sim::SimWindow;

struct Loader {
  SimPlatform& sim;
  // Shared with timeline actions, which name windows created later too.
  std::shared_ptr<WindowNames> names = std::make_shared<WindowNames>();
  std::set<std::string> announced;  // names of windows the timeline creates
  // What every "create" of the timeline adds its window with: one for all,
  // without `announced`, so each create costs the same however many there are.
  std::shared_ptr<Loader> creator;
  // The timeline, held until it starts.
  std::vector<std::pair<std::chrono::nanoseconds, std::function<void()>>> scheduled;

  void faults(const json& desc, const platform::Element& element, const std::string& where) {
    requireKeys(desc, where, {"reads", "settable", "writes", "notifications"});
    // Named copies: items() of a temporary would dangle in the loops below.
    const json reads = desc.value("reads", json::object());
    const json settables = desc.value("settable", json::object());
    const json writes = desc.value("writes", json::object());
    const json notifications = desc.value("notifications", json::object());
    for (auto& [attribute, read] : reads.items()) {
      std::string at = where + ".reads." + attribute;
      requireKeys(read, at, {"code", "value", "times"});
      platform::AttributeRead result{read.contains("code") ? code(read["code"], at) : 0, std::nullopt};
      if (read.contains("value")) result.value = value(read["value"], at, sim, *names);
      sim.failRead(element, attribute, result, static_cast<int>(number(read, "times", -1)));
    }
    for (auto& [attribute, settable] : settables.items()) {
      std::string at = where + ".settable." + attribute;
      requireKeys(settable, at, {"code", "settable", "times"});
      platform::SettableRead result{settable.contains("code") ? code(settable["code"], at) : 0,
                                    boolean(settable, "settable", false)};
      sim.failSettable(element, attribute, result, static_cast<int>(number(settable, "times", -1)));
    }
    for (auto& [attribute, write] : writes.items()) {
      std::string at = where + ".writes." + attribute;
      requireKeys(write, at, {"code", "times"});
      if (!write.contains("code")) throw WorldError(at + ": needs a code");
      sim.failWrite(element, attribute, code(write["code"], at),
                    static_cast<int>(number(write, "times", -1)));
    }
    for (auto& [notification, c] : notifications.items())
      sim.failAddNotification(element, notification, code(c, where + ".notifications." + notification));
  }

  SimChild child(const json& desc, const std::string& where) {
    requireKeys(desc, where,
                {"role", "subrole", "anchor", "x", "y", "width", "height", "fullWidth", "faults"});
    SimChild c;
    c.role = text(desc, "role", c.role);
    c.subrole = text(desc, "subrole", c.subrole);
    std::string anchor = text(desc, "anchor", "fixed");
    if (anchor == "fixed") {
      c.anchor = SimChild::Anchor::Fixed;
    } else if (anchor == "content") {
      c.anchor = SimChild::Anchor::Content;
    } else if (anchor == "titlebarButton") {
      c.anchor = SimChild::Anchor::TitlebarButton;
    } else {
      throw WorldError(where + ": anchor is fixed, content or titlebarButton");
    }
    c.x = number(desc, "x", 0);
    c.y = number(desc, "y", 0);
    c.width = number(desc, "width", 0);
    c.height = number(desc, "height", 0);
    c.fullWidth = boolean(desc, "fullWidth", false);
    return c;
  }

  SimWindow window(const json& desc, const std::string& where) {
    requireKeys(desc, where,
                {"name", "x", "y", "width", "height", "main", "minimized", "fullScreen", "role", "subrole",
                 "number", "numberCode", "positionSettable", "sizeSettable", "titlebar", "titlebarAfterMove",
                 "clamp", "children", "faults"});
    SimWindow w;
    w.x = number(desc, "x", w.x);
    w.y = number(desc, "y", w.y);
    w.width = number(desc, "width", w.width);
    w.height = number(desc, "height", w.height);
    w.main = boolean(desc, "main", w.main);
    w.minimized = boolean(desc, "minimized", w.minimized);
    w.fullScreen = boolean(desc, "fullScreen", w.fullScreen);
    w.role = text(desc, "role", w.role);
    w.subrole = text(desc, "subrole", w.subrole);
    if (desc.contains("number")) {
      if (!desc["number"].is_number_unsigned()) throw WorldError(where + ".number: expected 0 to 4294967295");
      w.number = desc["number"].get<std::uint32_t>();
    }
    if (desc.contains("numberCode")) w.numberCode = code(desc["numberCode"], where + ".numberCode");
    w.positionSettable = boolean(desc, "positionSettable", w.positionSettable);
    w.sizeSettable = boolean(desc, "sizeSettable", w.sizeSettable);
    w.titlebar = number(desc, "titlebar", w.titlebar);
    if (desc.contains("titlebarAfterMove")) w.titlebarAfterMove = number(desc, "titlebarAfterMove", 0);
    if (desc.contains("clamp")) {
      const json& c = desc["clamp"];
      requireKeys(c, where + ".clamp",
                  {"minWidth", "minHeight", "maxWidth", "maxHeight", "widthIncrement", "heightIncrement",
                   "shrinkBy", "minY"});
      w.clamp.minWidth = number(c, "minWidth", w.clamp.minWidth);
      w.clamp.minHeight = number(c, "minHeight", w.clamp.minHeight);
      w.clamp.maxWidth = number(c, "maxWidth", w.clamp.maxWidth);
      w.clamp.maxHeight = number(c, "maxHeight", w.clamp.maxHeight);
      w.clamp.widthIncrement = number(c, "widthIncrement", 0);
      w.clamp.heightIncrement = number(c, "heightIncrement", 0);
      w.clamp.shrinkBy = number(c, "shrinkBy", 0);
      if (c.contains("minY")) w.clamp.minY = number(c, "minY", 0);
    }
    const json& children = desc.value("children", json::array());
    if (!children.is_array()) throw WorldError(where + ".children: expected a list");
    for (std::size_t i = 0; i < children.size(); ++i)
      w.children.push_back(child(children[i], where + ".children[" + std::to_string(i) + "]"));
    return w;
  }

  // Adds the window (created: with the notification a new window raises),
  // names it and applies its faults and its children's.
  sim::WindowId addWindow(std::int32_t pid, const json& desc, const std::string& where, bool created) {
    SimWindow w = window(desc, where);
    sim::WindowId id = created ? sim.createWindow(pid, w) : sim.addWindow(pid, w);
    if (desc.contains("name")) {
      std::string name = text(desc, "name", "");
      if (!names->emplace(name, id).second) throw WorldError(where + ": window name used twice: " + name);
    }
    return id;
  }

  void windowFaults(sim::WindowId id, const json& desc, const std::string& where) {
    if (desc.contains("faults")) faults(desc["faults"], sim.windowElement(id), where + ".faults");
    const json& children = desc.value("children", json::array());
    for (std::size_t i = 0; i < children.size(); ++i)
      if (children[i].contains("faults"))
        faults(children[i]["faults"], sim.childElement(id, i),
               where + ".children[" + std::to_string(i) + "].faults");
  }

  // A window the timeline names: one of the world's, or one an earlier
  // "create" will make. Resolved when the event is due.
  std::function<void(std::function<void(sim::WindowId)>)> windowNamed(const json& event,
                                                                      const std::string& where) {
    std::string name = text(event, "window", "");
    if (!names->count(name) && !announced.count(name))
      throw WorldError(where + ": unknown window \"" + name + "\"");
    return [table = names, name](std::function<void(sim::WindowId)> act) {
      auto it = table->find(name);
      if (it != table->end()) act(it->second);
    };
  }

  void timelineEvent(const json& event, const std::string& where) {
    if (!event.is_object()) throw WorldError(where + ": expected an object");
    std::string action = text(event, "do", "");
    auto at = std::chrono::duration<double, std::milli>(number(event, "at", 0));
    if (at.count() < 0) throw WorldError(where + ".at: must not be negative");
    auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(at);
    SimPlatform* s = &sim;
    std::function<void()> work;
    if (action == "key") {
      requireKeys(event, where, {"at", "do", "keyCode", "down", "repeat", "flags"});
      platform::KeyEvent key{static_cast<std::uint16_t>(number(event, "keyCode", 53)),
                             boolean(event, "down", true), boolean(event, "repeat", false),
                             static_cast<std::uint64_t>(number(event, "flags", 0))};
      work = [s, key] { s->pressKey(key); };
    } else if (action == "move") {
      requireKeys(event, where, {"at", "do", "window", "x", "y"});
      auto target = windowNamed(event, where);
      double x = number(event, "x", 0), y = number(event, "y", 0);
      work = [s, target, x, y] { target([&](sim::WindowId id) { s->moveWindow(id, x, y); }); };
    } else if (action == "resize") {
      requireKeys(event, where, {"at", "do", "window", "width", "height"});
      auto target = windowNamed(event, where);
      double w = number(event, "width", 0), h = number(event, "height", 0);
      work = [s, target, w, h] { target([&](sim::WindowId id) { s->resizeWindow(id, w, h); }); };
    } else if (action == "close") {
      requireKeys(event, where, {"at", "do", "window"});
      auto target = windowNamed(event, where);
      work = [s, target] { target([&](sim::WindowId id) { s->closeWindow(id); }); };
    } else if (action == "create") {
      requireKeys(event, where, {"at", "do", "pid", "window"});
      auto pid = static_cast<std::int32_t>(number(event, "pid", 0));
      json desc = event.value("window", json::object());
      window(desc, where + ".window");  // checked now, not when it is due
      if (desc.contains("name")) announced.insert(text(desc, "name", ""));
      if (!creator) creator = std::make_shared<Loader>(Loader{sim, names, {}, nullptr, {}});
      work = [self = creator, pid, desc, where] {
        try {
          sim::WindowId id = self->addWindow(pid, desc, where + ".window", true);
          self->windowFaults(id, desc, where + ".window");
        } catch (const std::exception&) {
          // Checked at load; a duplicate name here only loses the name.
        }
      };
    } else if (action == "quit") {
      requireKeys(event, where, {"at", "do", "pid"});
      auto pid = static_cast<std::int32_t>(number(event, "pid", 0));
      sim.app(pid);  // throws for an unknown pid, at load
      work = [s, pid] { s->quitApp(pid); };
    } else if (action == "terminationNotice") {
      requireKeys(event, where, {"at", "do", "pid"});
      platform::TerminationNotice notice;
      if (event.contains("pid")) notice.pid = static_cast<std::int32_t>(number(event, "pid", 0));
      work = [s, notice] { s->postTerminationNotice(notice); };
    } else {
      throw WorldError(where + ".do: one of key, move, resize, create, close, quit, terminationNotice");
    }
    scheduled.emplace_back(delay, std::move(work));
  }

  // At once, or once the helper has started every watch `after` names: a
  // timeline timed from launch races a controlling program that has first
  // to start the helper and ask it to watch, on a busy machine.
  void startTimeline(const json& world) {
    std::set<std::string> awaited;
    const json& after = world.value("timelineStartsAfter", json::array());
    if (!after.is_array()) throw WorldError("timelineStartsAfter: expected a list");
    for (const json& what : after) {
      if (!what.is_string() || (what != "observer" && what != "keyMonitor"))
        throw WorldError("timelineStartsAfter: each one of \"observer\", \"keyMonitor\"");
      awaited.insert(what.get<std::string>());
    }
    auto items = std::make_shared<decltype(scheduled)>(std::move(scheduled));
    SimPlatform* s = &sim;
    auto post = [s, items] {
      for (auto& [delay, work] : *items) s->loop().postAfter(delay, std::move(work));
      items->clear();
    };
    if (awaited.empty()) return post();
    auto pending = std::make_shared<std::set<std::string>>(std::move(awaited));
    sim.setWatchListener([s, pending, post](std::string_view what) {
      if (pending->erase(std::string(what)) == 0 || !pending->empty()) return;
      post();
      s->setWatchListener(nullptr);
    });
  }

  void load(const json& world) {
    requireKeys(world, "world",
                {"trusted", "promptGrants", "osVersion", "processId", "windowNumberFunction",
                 "mainDisplayBounds", "screens", "apps", "faults", "timeline", "timelineStartsAfter"});
    sim.setTrusted(boolean(world, "trusted", true));
    sim.setPromptGrants(boolean(world, "promptGrants", false));
    if (world.contains("osVersion")) {
      const json& v = world["osVersion"];
      if (!v.is_array() || v.size() != 3 || !v[0].is_number_integer() || !v[1].is_number_integer() ||
          !v[2].is_number_integer())
        throw WorldError("osVersion: expected [major, minor, patch]");
      sim.setOsVersion({v[0].get<std::int64_t>(), v[1].get<std::int64_t>(), v[2].get<std::int64_t>()});
    }
    if (world.contains("processId"))
      sim.setProcessId(static_cast<std::int32_t>(number(world, "processId", 0)));
    sim.setWindowNumberFunctionPresent(boolean(world, "windowNumberFunction", true));
    if (world.contains("mainDisplayBounds"))
      sim.setMainDisplayBounds(rect(world["mainDisplayBounds"], "mainDisplayBounds"));

    std::vector<platform::Screen> screens;
    const json& screenList = world.value("screens", json::array());
    if (!screenList.is_array()) throw WorldError("screens: expected a list");
    for (std::size_t i = 0; i < screenList.size(); ++i) {
      std::string where = "screens[" + std::to_string(i) + "]";
      const json& s = screenList[i];
      requireKeys(s, where, {"frame", "visibleFrame", "number", "scale"});
      platform::Screen screen;
      screen.frame = rect(s.value("frame", json::object()), where + ".frame");
      screen.visibleFrame =
          s.contains("visibleFrame") ? rect(s["visibleFrame"], where + ".visibleFrame") : screen.frame;
      if (s.contains("number") && !s["number"].is_null()) {
        if (!s["number"].is_number_integer())
          throw WorldError(where + ".number: expected an integer or null");
        screen.number = s["number"].get<std::int64_t>();
      }
      screen.scale = number(s, "scale", 1);
      screens.push_back(screen);
    }
    sim.setScreens(screens);

    const json& apps = world.value("apps", json::array());
    if (!apps.is_array()) throw WorldError("apps: expected a list");
    std::vector<std::tuple<sim::WindowId, json, std::string>> windowSpecs;
    for (std::size_t i = 0; i < apps.size(); ++i) {
      std::string where = "apps[" + std::to_string(i) + "]";
      const json& a = apps[i];
      requireKeys(a, where, {"bundleId", "pid", "terminated", "windows", "faults", "enhancedUserInterface"});
      if (!a.contains("pid") || !a["pid"].is_number_integer())
        throw WorldError(where + ".pid: expected an integer");
      auto pid = a["pid"].get<std::int32_t>();
      sim.addApp(text(a, "bundleId", ""), pid);
      if (a.contains("enhancedUserInterface"))
        sim.setEnhancedUserInterface(pid, boolean(a, "enhancedUserInterface", false));
      const json& windows = a.value("windows", json::array());
      if (!windows.is_array()) throw WorldError(where + ".windows: expected a list");
      for (std::size_t j = 0; j < windows.size(); ++j) {
        std::string at = where + ".windows[" + std::to_string(j) + "]";
        windowSpecs.emplace_back(addWindow(pid, windows[j], at, false), windows[j], at);
      }
    }
    // Faults last: a faulty AXWindows may list any window by name.
    for (std::size_t i = 0; i < apps.size(); ++i)
      if (apps[i].contains("faults"))
        faults(apps[i]["faults"], sim.applicationElement(apps[i]["pid"].get<std::int32_t>()),
               "apps[" + std::to_string(i) + "].faults");
    for (auto& [id, desc, where] : windowSpecs) windowFaults(id, desc, where);
    for (std::size_t i = 0; i < apps.size(); ++i)
      if (boolean(apps[i], "terminated", false)) sim.quitApp(apps[i]["pid"].get<std::int32_t>());

    if (world.contains("faults")) {
      const json& f = world["faults"];
      requireKeys(f, "faults", {"createValue", "observerCreate", "keyMonitorRefused"});
      sim.setCreateValueFails(boolean(f, "createValue", false));
      sim.refuseKeyMonitor(boolean(f, "keyMonitorRefused", false));
      if (f.contains("observerCreate")) {
        const json& o = f["observerCreate"];
        requireKeys(o, "faults.observerCreate", {"code", "nullObserver"});
        sim.failObserverCreate(o.contains("code") ? code(o["code"], "faults.observerCreate.code") : 0,
                               boolean(o, "nullObserver", false));
      }
    }

    const json& timeline = world.value("timeline", json::array());
    if (!timeline.is_array()) throw WorldError("timeline: expected a list");
    for (std::size_t i = 0; i < timeline.size(); ++i)
      timelineEvent(timeline[i], "timeline[" + std::to_string(i) + "]");
    startTimeline(world);
  }
};

}  // namespace

void loadWorld(const std::string& text, sim::SimPlatform& sim) {
  json world = json::parse(text, nullptr, false);
  if (world.is_discarded()) throw WorldError("not JSON");
  try {
    Loader loader{sim, std::make_shared<WindowNames>(), {}, nullptr, {}};
    loader.load(world);
  } catch (const WorldError&) {
    throw;
  } catch (const std::exception& e) {
    throw WorldError(e.what());
  }
}

}  // namespace kestrove::simdriver
