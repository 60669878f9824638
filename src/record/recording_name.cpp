// SPDX-License-Identifier: MIT
#include "recording_name.h"

#include <cstdio>

namespace lirevo {

std::string makeTimestampName(std::chrono::system_clock::time_point startTime) {
  using namespace std::chrono;
  const auto sinceEpoch = duration_cast<milliseconds>(startTime.time_since_epoch());
  const auto seconds = floor<std::chrono::seconds>(sinceEpoch);
  const auto milliseconds = (sinceEpoch - seconds).count();
  char text[64];
  std::snprintf(text, sizeof text, "%.13g%03d", static_cast<double>(seconds.count()),
                static_cast<int>(milliseconds));
  return text;
}

}  // namespace lirevo
