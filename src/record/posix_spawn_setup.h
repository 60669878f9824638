// SPDX-License-Identifier: MIT
#pragma once

#include <spawn.h>

#include <string>
#include <vector>

namespace lirevo {

// The spawn attributes and file actions of one child, released on scope exit.
// Every child starts with all signals at their default action and none
// blocked, whatever the starting thread has set up for itself (the terminal
// companion blocks SIGINT to wait for it; an ignored SIGINT or SIGPIPE would
// otherwise be inherited).
class SpawnSetup {
 public:
  SpawnSetup();
  ~SpawnSetup();
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawnattr_t* attributes() { return &m_attributes; }
  posix_spawn_file_actions_t* fileActions() { return &m_fileActions; }
  void addFlags(short flags);

 private:
  posix_spawnattr_t m_attributes;
  posix_spawn_file_actions_t m_fileActions;
  short m_flags = 0;
};

// argv for posix_spawn: pointers into `arguments`, null-terminated.
std::vector<char*> argumentVector(std::vector<std::string>& arguments);

}  // namespace lirevo
