// SPDX-License-Identifier: MIT
#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "gbk_text.h"
#include "posix_fd.h"
#include "recorder_stop.h"

namespace lirevo {
namespace {

// The kernel keeps at most 15 bytes of a program's name in comm.
constexpr std::size_t kCommLimitBytes = 15;

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Running processes, lowest identifier first (the order in which they were
// most likely started).
std::vector<pid_t> processIds() {
  std::vector<pid_t> ids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return ids;
  while (const dirent* entry = ::readdir(proc)) {
    const std::string_view name = entry->d_name;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    ids.push_back(static_cast<pid_t>(std::stol(std::string(name))));
  }
  ::closedir(proc);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The executable's file name as the program was started under it: a
// recorder started as ffm.exe through a link to ffmpeg is named ffm.exe.
// Empty for a process that has ended (a zombie) or is gone.
std::string executableName(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  const std::string stat = readFile(base + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') return {};
  std::string name = readFile(base + "/comm");
  if (!name.empty() && name.back() == '\n') name.pop_back();
  if (name.size() < kCommLimitBytes) return name;
  // comm may be cut short: the start of argv[0] holds the whole name.
  const std::string commandLine = readFile(base + "/cmdline");
  std::string first = commandLine.substr(0, commandLine.find('\0'));
  const std::size_t slash = first.rfind('/');
  if (slash != std::string::npos) first.erase(0, slash + 1);
  return startsWith(first, name) ? first : name;
}

// Ends the reading side of every stream socket of the process: its input
// stream then reads as ended. FFmpeg stops its main loop on an interrupt only
// between two reads; while it waits for a source that has gone silent without
// closing, a second interrupt would break that wait but also make it abandon
// its files unfinished. An ended input instead lets it finish them, as when a
// source closes. Needs the right to trace the process (a child of ours, same
// user); where that is missing, the interrupt alone still works whenever data
// flows.
void endInputStreams(pid_t pid) {
  const PosixFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!process.valid()) return;
  DIR* descriptors = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (descriptors == nullptr) return;
  while (const dirent* entry = ::readdir(descriptors)) {
    const std::string_view name = entry->d_name;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const int target = std::stoi(std::string(name));
    const PosixFd copy(static_cast<int>(::syscall(SYS_pidfd_getfd, process.get(), target, 0)));
    if (!copy.valid()) continue;
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(copy.get(), SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM)
      ::shutdown(copy.get(), SHUT_RD);
  }
  ::closedir(descriptors);
}

}  // namespace

std::uint32_t findProcessIdByName(std::string_view name, bool caseSensitive) {
  if (name.empty()) return 0;
  for (const pid_t pid : processIds()) {
    const std::string candidate = executableName(pid);
    if (candidate.empty()) continue;
    if (caseSensitive ? candidate == name : equalsIgnoreCase(candidate, name))
      return static_cast<std::uint32_t>(pid);
  }
  return 0;
}

void stopRecorder() {
  // SIGINT is what a Ctrl+C in the recorder's terminal would send: FFmpeg
  // finishes its files and exits. The recorder runs in a process group of its
  // own, so the signal goes to it alone, never to this program.
  const std::uint32_t pid = findProcessIdByName(kRecorderProcessName);
  if (pid == 0) return;
  ::kill(static_cast<pid_t>(pid), SIGINT);
  endInputStreams(static_cast<pid_t>(pid));
}

bool terminateProcessByName(std::string_view name) {
  const std::uint32_t pid = findProcessIdByName(name);
  return pid != 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

bool waitForProcessToEnd(std::string_view name, int timeoutMs) {
  constexpr auto kPollInterval = std::chrono::milliseconds(20);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    if (findProcessIdByName(name) == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

}  // namespace lirevo
