// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string_view>

namespace lirevo {

inline constexpr std::string_view kRecorderProcessName = "ffm.exe";

// Identifier of the first process whose executable name equals `name` as a
// whole (ASCII case folded unless `caseSensitive`), or 0.
std::uint32_t findProcessIdByName(std::string_view name, bool caseSensitive = false);

// Sends the recorder the equivalent of a console Ctrl+C and returns at once;
// a missing recorder is silently ignored.
void stopRecorder();

// The same for the recorder with this process identifier: FFmpeg finishes
// its files and exits, also while it waits for a source that has gone
// silent. Returns at once.
void stopRecorderProcess(std::uint32_t processId);

// Kills the first process of that name; true when one was found and killed.
bool terminateProcessByName(std::string_view name);

// Waits until no process of that name runs, at most `timeoutMs`; true when none is left.
bool waitForProcessToEnd(std::string_view name, int timeoutMs);

}  // namespace lirevo
