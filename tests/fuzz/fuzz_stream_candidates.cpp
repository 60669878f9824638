// SPDX-License-Identifier: MIT
// Input: a decoded room page (GBK bytes).
#include <cstdint>
#include <string>
#include <vector>

#include "command_line_split.h"
#include "fuzz_check.h"
#include "gbk_literal.h"
#include "gbk_text.h"
#include "live_stream_resolver.h"
#include "recording_job.h"

namespace {

constexpr std::string_view kStart = "http://pull";
constexpr std::string_view kEnd = ".flv";

// The nested candidates of a page of markers grow with the square of its
// size; the whole list is checked only on pages small enough for it.
constexpr std::size_t kListLimitBytes = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lirevo;
  const std::string page(reinterpret_cast<const char*>(data), size);

  const std::string selected = selectStreamAddress(page);
  if (!selected.empty()) {
    FUZZ_CHECK(startsWith(selected, kStart));
    FUZZ_CHECK(endsWith(selected, kEnd));
    FUZZ_CHECK(selected.size() <= kMaxStreamAddressBytes);
    FUZZ_CHECK(page.find(selected) != std::string::npos);
    for (const char c : selected) {
      const auto byte = static_cast<unsigned char>(c);
      FUZZ_CHECK(c != '"' && byte > 0x20 && byte != 0x7F);
    }
    FUZZ_CHECK(!containsText(selected, "　"_gbk));
    FUZZ_CHECK(isSafeStreamAddress(selected));
    // On the recorder's command line it stays one argument, whole.
    const std::vector<std::string> arguments =
        splitCommandLine(buildRecorderCommandLine(selected, "1700000000000"));
    const std::vector<std::string> expected = {"-hide_banner", "-i",   selected,
                                               "-c",           "copy", "-f",
                                               "mpegts",       "-y",   "udp://127.0.0.1:1111",
                                               "-c",           "copy", "1700000000000.mp4"};
    FUZZ_CHECK(arguments == expected);
  }

  if (page.size() > kListLimitBytes) return 0;
  const std::vector<std::string> candidates = collectBetweenMarkers(page, kStart, kEnd);
  std::string firstSafe;
  int searchFrom = 1;
  for (const std::string& candidate : candidates) {
    FUZZ_CHECK(startsWith(candidate, kStart));
    FUZZ_CHECK(endsWith(candidate, kEnd));
    FUZZ_CHECK(candidate.size() >= kStart.size() + kEnd.size());
    // In page order, each one where the text search finds it.
    const int at = findText(page, candidate, searchFrom);
    FUZZ_CHECK(at >= searchFrom);
    searchFrom = at + 1;
    if (firstSafe.empty() && isSafeStreamAddress(candidate)) firstSafe = candidate;
  }
  FUZZ_CHECK(selected == firstSafe);
  return 0;
}
