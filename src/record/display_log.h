// SPDX-License-Identifier: MIT
#pragma once

#include <mutex>
#include <string_view>

#include "control_access.h"

namespace lirevo {

// Once the display box holds more than this many GBK bytes it is emptied
// before the next append, so it stays bounded however long a recording runs.
inline constexpr std::size_t kDisplayLimitBytes = 2000;

// Serialises the display log's appends among themselves; the other writers
// of the display box replace its whole text without it.
std::mutex& displayLock();

// Appends `text` and a line break at the end of the display box "编辑框_显示".
void appendToDisplay(ControlAccess& window, std::string_view text);

}  // namespace lirevo
