// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "charset.h"
#include "player.h"
#include "posix_fd.h"
#include "posix_spawn_setup.h"

extern char** environ;

namespace lirevo {
namespace {

bool writeWhole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Written beside the script and renamed over it, so a player that is just
// reading the old copy never sees a half-written one.
void writeScript(const std::string& path) {
  const std::string temporary = path + ".new";
  PosixFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755));
  if (!file.valid()) return;
  const bool written = writeWhole(file.get(), playerScript());
  ::fchmod(file.get(), 0755);
  file.reset();
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) ::unlink(temporary.c_str());
}

}  // namespace

std::string playerScript() {
  return "#!/bin/sh\n"
         "# Shows Lirevo's live relay while it records. Rewritten on every press of the play button.\n"
         "dir=$(dirname \"$0\")\n"
         "for player in \"$dir/ffplay.exe\" \"$dir/ffplay\"; do\n"
         "  if [ -f \"$player\" ] && [ -x \"$player\" ]; then\n"
         "    exec \"$player\" -x 360 -y 640 udp://127.0.0.1:1111\n"
         "  fi\n"
         "done\n"
         "exec ffplay -x 360 -y 640 udp://127.0.0.1:1111\n";
}

void startPlayer(const std::string& programDirectory) {
  const std::string path = gbkToUtf8(programDirectory) + "/" + std::string(kPlayerScriptName);
  writeScript(path);

  // A session of its own: the player outlives whatever happens to this
  // program's terminal or process group. Its output goes nowhere, as the
  // player's console stays hidden.
  std::vector<std::string> arguments{"/bin/sh", path};
  std::vector<char*> argv = argumentVector(arguments);
  SpawnSetup setup;
  setup.addFlags(POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_addopen(setup.fileActions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(setup.fileActions(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(setup.fileActions(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", setup.fileActions(), setup.attributes(), argv.data(), environ) != 0)
    return;
  // Nobody waits for the player, but somebody has to collect its exit
  // status, or each closed player would linger as a zombie.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace lirevo
