// SPDX-License-Identifier: MIT
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <climits>

#include "charset.h"
#include "command_line_split.h"
#include "gbk_literal.h"
#include "posix_fd.h"
#include "posix_spawn_setup.h"
#include "process_output.h"
#include "process_runner.h"

extern char** environ;

namespace lirevo {
namespace {

constexpr std::size_t kReadLimitBytes = 1023;

// posix_spawn changes directory before it runs the program, so a relative
// path has to be made absolute against the current directory first.
std::string absolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::array<char, PATH_MAX> buffer{};
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return path;
  return std::string(buffer.data()) + "/" + path;
}

// The directory part up to and including the last "/"; empty when there is none.
std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Starts the child with `writeEnd` as its standard output and error; 0 when it cannot be started.
pid_t spawnChild(const std::string& nativePath, const std::string& argumentText, int writeEnd) {
  std::vector<std::string> arguments{nativePath};
  for (const std::string& argument : splitCommandLine(argumentText)) arguments.push_back(gbkToUtf8(argument));
  std::vector<char*> argv = argumentVector(arguments);

  SpawnSetup setup;
  setup.addFlags(POSIX_SPAWN_SETPGROUP);  // process group 0: one of its own
  posix_spawn_file_actions_addopen(setup.fileActions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(setup.fileActions(), writeEnd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(setup.fileActions(), writeEnd, STDERR_FILENO);
  const std::string directory = directoryOf(nativePath);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(setup.fileActions(), directory.c_str());

  pid_t pid = 0;
  const std::string program = absolutePath(nativePath);
  if (posix_spawn(&pid, program.c_str(), setup.fileActions(), setup.attributes(), argv.data(), environ) != 0)
    return 0;
  return pid;
}

int waitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool hasExited(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

}  // namespace

void runProcess(const std::string& executablePath, const std::string& argumentText,
                const OutputCallback& outputCallback, std::uint32_t* processId, std::string* outputLog,
                int* exitStatus, const std::function<void(std::uint32_t)>& onStarted) {
  if (outputLog != nullptr) outputLog->clear();
  if (processId != nullptr) *processId = 0;
  if (exitStatus != nullptr) *exitStatus = -1;

  const std::string nativePath = gbkToUtf8(executablePath);
  struct stat info {};
  if (::stat(nativePath.c_str(), &info) != 0) {
    const std::string message = executablePath + " 不存在"_gbk;
    if (outputCallback) outputCallback(message);
    if (outputLog != nullptr) *outputLog = message;
    return;
  }

  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC) != 0) return;
  PosixFd readEnd(ends[0]);
  PosixFd writeEnd(ends[1]);
  // Only the runner's end is non-blocking: the child writes as usual.
  ::fcntl(readEnd.get(), F_SETFL, ::fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);

  const pid_t pid = spawnChild(nativePath, argumentText, writeEnd.get());
  writeEnd.reset();  // the pipe reports its end once the child's copies are closed
  if (pid <= 0) return;
  if (processId != nullptr) *processId = static_cast<std::uint32_t>(pid);
  if (onStarted) onStarted(static_cast<std::uint32_t>(pid));

  // Waiting on the pipe and on the child's exit together lets the thread
  // sleep in poll while the child runs, however long that is. Without
  // pidfd support the exit is looked at ten times a second.
  const PosixFd exitEvent(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  ChildOutputDecoder decoder;
  auto handOn = [&](const std::string& chunk) {
    if (chunk.empty()) return;
    if (outputCallback) outputCallback(translateStatus(chunk));
    if (outputLog != nullptr) outputLog->append(chunk).append("\r\n");
  };

  std::array<char, kReadLimitBytes + 1> buffer{};
  bool pipeEnded = false;
  bool childEnded = false;
  for (;;) {
    const ssize_t count = ::read(readEnd.get(), buffer.data(), kReadLimitBytes);
    if (count > 0) {
      handOn(decoder.decode(std::string_view(buffer.data(), static_cast<std::size_t>(count))));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count == 0 || errno != EAGAIN) pipeEnded = true;
    // Nothing to read right now: done once every writer is gone, or once
    // the child has exited (something it started may still hold the pipe).
    if (pipeEnded || childEnded) break;
    std::array<pollfd, 2> waits{{{readEnd.get(), POLLIN, 0}, {exitEvent.get(), POLLIN, 0}}};
    const nfds_t waitCount = exitEvent.valid() ? 2 : 1;
    ::poll(waits.data(), waitCount, exitEvent.valid() ? -1 : 100);
    childEnded = exitEvent.valid() ? (waits[1].revents != 0) : hasExited(pid);
  }
  readEnd.reset();
  handOn(decoder.flush());
  const int status = waitForExit(pid);
  if (exitStatus != nullptr) *exitStatus = status;
}

}  // namespace lirevo
