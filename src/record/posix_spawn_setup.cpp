// SPDX-License-Identifier: MIT
#include "posix_spawn_setup.h"

#include <signal.h>

namespace lirevo {

SpawnSetup::SpawnSetup() {
  posix_spawnattr_init(&m_attributes);
  posix_spawn_file_actions_init(&m_fileActions);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&m_attributes, &none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&m_attributes, &all);
  addFlags(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

SpawnSetup::~SpawnSetup() {
  posix_spawn_file_actions_destroy(&m_fileActions);
  posix_spawnattr_destroy(&m_attributes);
}

void SpawnSetup::addFlags(short flags) {
  m_flags = static_cast<short>(m_flags | flags);
  posix_spawnattr_setflags(&m_attributes, m_flags);
}

std::vector<char*> argumentVector(std::vector<std::string>& arguments) {
  std::vector<char*> pointers;
  pointers.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace lirevo
