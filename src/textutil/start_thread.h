// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <thread>

namespace lirevo {

// Runs the routine on a new thread that nobody waits for; it ends with the
// routine or with the process.
inline void startThread(std::function<void()> routine) { std::thread(std::move(routine)).detach(); }

}  // namespace lirevo
