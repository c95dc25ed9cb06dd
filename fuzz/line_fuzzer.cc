// Arbitrary bytes as stdin lines: every line written must be one compact JSON
// object with the keys of every object in ascending order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/core.h"
#include "app/line_protocol.h"
#include "platform/sim/sim_platform.h"

namespace {

using Ordered = nlohmann::ordered_json;

void check(bool condition) {
  if (!condition) std::abort();
}

void checkSorted(const Ordered& value) {
  if (value.is_object()) {
    const std::string* previous = nullptr;
    for (auto it = value.begin(); it != value.end(); ++it) {
      check(previous == nullptr || *previous < it.key());
      previous = &it.key();
      checkSorted(it.value());
    }
  } else if (value.is_array()) {
    for (const auto& item : value) checkSorted(item);
  }
}

// No white space outside strings.
void checkCompact(std::string_view line) {
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"') inString = true;
    check(c != ' ' && c != '\t' && c != '\n' && c != '\r');
  }
}

void checkLine(std::string_view line) {
  checkCompact(line);
  Ordered value = Ordered::parse(line, nullptr, /*allow_exceptions=*/false);
  check(!value.is_discarded());
  check(value.is_object());
  checkSorted(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrove::sim::SimPlatform sim;
  std::vector<std::string> written;
  bool ended = false;
  kestrove::Writer writer(
      [&](const char* bytes, std::size_t count, int&) {
        written.emplace_back(bytes, count);
        return static_cast<long>(count);
      },
      [&](int) { ended = true; });
  kestrove::Core core{sim, writer, [&](int) { ended = true; }, kestrove::HelperState{}};

  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty() && !ended) {
    std::size_t newline = input.find('\n');
    std::string_view line = input.substr(0, newline);
    input.remove_prefix(newline == std::string_view::npos ? input.size() : newline + 1);
    std::size_t before = written.size();
    kestrove::handleLine(core, line, true);
    check(written.size() - before <= 1);
    sim.loop().runUntilIdle();
  }
  for (const auto& chunk : written) {
    check(!chunk.empty() && chunk.back() == '\n');
    std::string_view line(chunk.data(), chunk.size() - 1);
    check(line.find('\n') == std::string_view::npos);
    checkLine(line);
  }
  return 0;
}
