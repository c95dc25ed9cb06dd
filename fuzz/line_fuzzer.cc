// The helper's loop on a simulated desktop, both chosen by the input.
//
// Input: the first kGenomeBytes choose the world (screens, apps, windows
// with children, faults, settings); the rest is stdin. Its lines go through
// the reader's splitter to the line handler, except lines starting with "!",
// which act on the world instead (keys, moves, windows opening and closing,
// apps quitting, time passing; see FuzzWorld). Virtual time moves on after
// every line, so timers and notifications run between them.
//
// Checked for every line: a line with words gets exactly one reply and a
// blank one none; the reply echoes the request id as read here with 128-bit
// arithmetic (or is bad_id); every line written is one compact JSON object
// whose keys ascend strictly in every object; events come only between
// lines and have the shape of events; the splitter loses no line.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/core.h"
#include "app/line_batch.h"
#include "app/line_protocol.h"
#include "app/line_splitter.h"
#include "fuzz_world.h"
#include "reply_checks.h"

namespace {

using namespace std::chrono_literals;
using kestrove::fuzz::require;

constexpr std::size_t kGenomeBytes = 64;
constexpr std::size_t kMaxLineBytes = 4096;

// The lines of `text` as the protocol defines them, found independently of
// the splitter: ended by a line feed, a carriage return before it going
// with it; a last line without one kept as it stands.
std::vector<std::string_view> protocolLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      lines.push_back(text);
      break;
    }
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t genomeSize = std::min(size, kGenomeBytes);
  FuzzedDataProvider genes(data, genomeSize);
  kestrove::fuzz::FuzzWorld world(genes);
  const std::string_view text(reinterpret_cast<const char*>(data) + genomeSize, size - genomeSize);

  std::vector<std::string> written;
  bool ended = false;
  kestrove::Writer writer(
      [&](const char* bytes, std::size_t count, int&) {
        written.emplace_back(bytes, count);
        return static_cast<long>(count);
      },
      [&](int) { ended = true; });
  kestrove::Core core{world.sim(), writer, [&](int) { ended = true; }, kestrove::HelperState{}};

  // Each written chunk is one line; it is returned parsed.
  auto takeWritten = [&] {
    std::vector<nlohmann::json> lines;
    for (const std::string& chunk : written) {
      require(!chunk.empty() && chunk.back() == '\n');
      std::string_view line(chunk.data(), chunk.size() - 1);
      require(line.find('\n') == std::string_view::npos);
      lines.push_back(kestrove::fuzz::parseLine(line));
    }
    written.clear();
    return lines;
  };
  auto runLoop = [&](std::chrono::nanoseconds by) {
    world.sim().loop().advance(by);
    for (const auto& event : takeWritten()) kestrove::fuzz::checkEvent(event);
  };

  const std::vector<std::string_view> expected = protocolLines(text);
  kestrove::LineSplitter splitter(kMaxLineBytes);
  kestrove::LineBatch batch;
  splitter.feed(text, batch);
  splitter.finish(batch);
  std::size_t index = 0;
  runLoop(0ns);
  batch.forEach([&](kestrove::InputLine line) {
    require(index < expected.size());
    const std::string_view raw = expected[index++];
    if (ended) return;
    if (!raw.empty() && raw[0] == '!') {
      world.runDirective(raw.substr(0, 256));
    } else {
      require(line.overLimit == (raw.size() > kMaxLineBytes));
      if (!line.overLimit) require(line.text == raw);
      kestrove::handleLine(core, line.text, true, line.overLimit);
      const auto replies = takeWritten();
      require(replies.size() == (kestrove::fuzz::hasWords(raw) ? 1u : 0u));
      for (const auto& reply : replies) kestrove::fuzz::checkReply(raw, reply);
    }
    if (!ended) runLoop(10ms);
  });
  require(index == expected.size());
  return 0;
}
