#include "world_values.h"

#include <cstring>

#include "platform/sim/sim_platform.h"
#include "world_loader.h"

namespace kestrove::simdriver {

void requireKeys(const json& value, const std::string& where, std::initializer_list<const char*> allowed) {
  if (!value.is_object()) throw WorldError(where + ": expected an object");
  for (auto& [key, unused] : value.items()) {
    bool known = false;
    for (const char* name : allowed) known = known || key == name;
    if (!known) throw WorldError(where + ": unknown key \"" + key + "\"");
  }
}

double number(const json& object, const char* key, double fallback) {
  if (!object.contains(key)) return fallback;
  const json& v = object.at(key);
  if (!v.is_number()) throw WorldError(std::string(key) + ": expected a number");
  return v.get<double>();
}

bool boolean(const json& object, const char* key, bool fallback) {
  if (!object.contains(key)) return fallback;
  const json& v = object.at(key);
  if (!v.is_boolean()) throw WorldError(std::string(key) + ": expected true or false");
  return v.get<bool>();
}

std::string text(const json& object, const char* key, const std::string& fallback) {
  if (!object.contains(key)) return fallback;
  const json& v = object.at(key);
  if (!v.is_string()) throw WorldError(std::string(key) + ": expected a string");
  return v.get<std::string>();
}

std::int32_t code(const json& value, const std::string& where) {
  if (!value.is_number_integer()) throw WorldError(where + ": expected an integer code");
  return value.get<std::int32_t>();
}

platform::Rect rect(const json& value, const std::string& where) {
  requireKeys(value, where, {"x", "y", "width", "height"});
  return platform::Rect{number(value, "x", 0), number(value, "y", 0), number(value, "width", 0),
                        number(value, "height", 0)};
}

namespace {
std::pair<double, double> pair(const json& v, const std::string& where) {
  if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number())
    throw WorldError(where + ": expected two numbers");
  return {v[0].get<double>(), v[1].get<double>()};
}
}  // namespace

platform::Value value(const json& desc, const std::string& where, const sim::SimPlatform& sim,
                      const WindowNames& names) {
  requireKeys(desc, where,
              {"string", "number", "point", "size", "axValue", "windows", "nonElementList", "other"});
  if (desc.size() != 1) throw WorldError(where + ": a value has exactly one kind");
  auto [kind, v] = *desc.items().begin();
  if (kind == "string") {
    if (!v.is_string()) throw WorldError(where + ": expected a string");
    return v.get<std::string>();
  }
  if (kind == "number") {
    if (!v.is_number()) throw WorldError(where + ": expected a number");
    return platform::Number{v.get<double>()};
  }
  if (kind == "point") {
    auto [a, b] = pair(v, where);
    return platform::AxValue{1, a, b};
  }
  if (kind == "size") {
    auto [a, b] = pair(v, where);
    return platform::AxValue{2, a, b};
  }
  if (kind == "axValue") {
    if (!v.is_array() || v.size() != 3 || !v[0].is_number_integer() || !v[1].is_number() || !v[2].is_number())
      throw WorldError(where + ": axValue is [type, first, second]");
    return platform::AxValue{v[0].get<int>(), v[1].get<double>(), v[2].get<double>()};
  }
  if (kind == "windows") {
    if (!v.is_array()) throw WorldError(where + ": expected a list of window names");
    std::vector<platform::Element> list;
    for (auto& name : v) {
      auto it = name.is_string() ? names.find(name.get<std::string>()) : names.end();
      if (it == names.end()) throw WorldError(where + ": unknown window " + name.dump());
      list.push_back(sim.windowElement(it->second));
    }
    return list;
  }
  if (kind == "nonElementList") return platform::NonElementList{};
  return platform::OtherValue{};
}

}  // namespace kestrove::simdriver
