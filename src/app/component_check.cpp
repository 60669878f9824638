// SPDX-License-Identifier: MIT
// Placeholder until the downloader lands.
#include "component_check.h"

namespace lirevo {

void checkComponents(const ComponentCheckContext&) {}

}  // namespace lirevo
