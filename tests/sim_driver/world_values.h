#pragma once

// Reading the small JSON shapes of a world file, strictly: a typo in a key is
// an error, not a silently ignored setting.

#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_world.h"

namespace kestrove::simdriver {

using nlohmann::json;
using WindowNames = std::map<std::string, sim::WindowId>;

// Throws WorldError unless `value` is an object whose keys are all in `allowed`.
void requireKeys(const json& value, const std::string& where, std::initializer_list<const char*> allowed);
double number(const json& object, const char* key, double fallback);
bool boolean(const json& object, const char* key, bool fallback);
std::string text(const json& object, const char* key, const std::string& fallback);
std::int32_t code(const json& value, const std::string& where);
platform::Rect rect(const json& value, const std::string& where);
// A value a faulty read returns: {"string": s} | {"number": n} | {"point": [x, y]}
// | {"size": [w, h]} | {"axValue": [type, a, b]} | {"windows": [name, ...]}
// | {"nonElementList": true} | {"other": true}.
platform::Value value(const json& desc, const std::string& where, const sim::SimPlatform& sim,
                      const WindowNames& names);

}  // namespace kestrove::simdriver
