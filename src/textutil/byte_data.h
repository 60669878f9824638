// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace lirevo {

// A counted byte array (HTTP bodies, files). May hold zero bytes.
using ByteData = std::string;

}  // namespace lirevo
