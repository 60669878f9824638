// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "control_access.h"

namespace lirevo {

struct ComponentCheckContext {
  ControlAccess* window = nullptr;  // must outlive the downloads
  std::string programDirectory;     // no trailing separator
  std::string recorderPath;         // programDirectory + "/ffm.exe"
  std::string componentHost;        // scheme and host of the component server
};

// The start-up thread routine: restores the settings, warns about a blank in
// the program's path and fetches a missing recorder or player.
void checkComponents(const ComponentCheckContext& context);

}  // namespace lirevo
