// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace lirevo {

// Writes the player start script into the program directory and runs it as a
// separate process nobody waits for; ffplay then shows the UDP relay.
void startPlayer(const std::string& programDirectory);

}  // namespace lirevo
