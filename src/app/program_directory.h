// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace lirevo {

// The directory that holds the running executable, as GBK text without a
// trailing separator; every file the program uses lies in it or under it.
// Empty when the platform cannot tell.
std::string programDirectory();

// What joins the program directory and the names below it ("/" here, "\" on
// Windows).
std::string_view pathSeparator();

}  // namespace lirevo
