// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <string>

namespace lirevo {

// The output base name for a start time: whole seconds of Unix time followed
// by the three digits of the millisecond, 13 digits for any time from late
// 2001 to 2286.
std::string makeTimestampName(std::chrono::system_clock::time_point startTime);

// The base name for a recording started at `startTime` whose file
// `programDirectory`/NAME.mp4 did not exist yet: the time stamp, moved on by a
// millisecond while that file exists. The empty file is created on the way,
// so two jobs started at the same moment can never pick the same name.
std::string reserveOutputName(const std::string& programDirectory,
                              std::chrono::system_clock::time_point startTime);

// Removes the reserved file again when the recorder never wrote into it.
void releaseUnusedOutput(const std::string& outputPath);

}  // namespace lirevo
