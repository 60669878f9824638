// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace lirevo {

// The player start script, in the program directory.
inline constexpr std::string_view kPlayerScriptName = "play.sh";

// The script's exact content. It starts ffplay from the directory it lies in
// when a copy is there (as ffplay.exe or ffplay), else from the search path,
// with a 360 x 640 window on the recorder's UDP relay; SDL picks the audio
// driver.
std::string playerScript();

// Writes the player start script into the program directory (replacing it)
// and runs it as a separate process nobody waits for; ffplay then shows the
// UDP relay. `programDirectory` is GBK, without a trailing separator.
void startPlayer(const std::string& programDirectory);

}  // namespace lirevo
