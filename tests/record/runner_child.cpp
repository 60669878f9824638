// SPDX-License-Identifier: MIT
// A small program for the process runner's tests. Its arguments are steps run
// in order:
//   hex HEX        one write of the decoded bytes to standard output
//   err HEX        the same on standard error
//   repeat N CHAR  one write of N copies of CHAR
//   sleep MS       pause
//   args           one line per argument after "args": [argument]
//   cwd            the working directory and a line feed
//   stdin          "eof" when standard input is at its end at once, else "data"
//   group          "own" when the program leads its own process group, else "shared"
//   signals        "int:default" or "int:ignored", then "mask:none" or "mask:int"
//   orphan MS      starts a process that keeps the output open for MS and exits
//   pid            its process identifier and a line feed
//   wait-int       sleeps until SIGINT, then writes "interrupted" and exits 255
//   kill-self      ends by SIGKILL
//   exit CODE      exits with CODE (default at the end: 0)
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

volatile sig_atomic_t interrupted = 0;

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written <= 0) std::exit(90);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string decodeHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2)
    bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16)));
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  for (int at = 1; at < argc; ++at) {
    const std::string_view step = argv[at];
    auto next = [&]() -> std::string { return at + 1 < argc ? argv[++at] : std::string(); };
    if (step == "hex") {
      writeAll(STDOUT_FILENO, decodeHex(next()));
    } else if (step == "err") {
      writeAll(STDERR_FILENO, decodeHex(next()));
    } else if (step == "repeat") {
      const std::size_t count = std::stoul(next());
      const std::string character = next();
      writeAll(STDOUT_FILENO, std::string(count, character.empty() ? 'x' : character[0]));
    } else if (step == "sleep") {
      ::usleep(static_cast<useconds_t>(std::stoi(next()) * 1000));
    } else if (step == "args") {
      std::string lines;
      for (++at; at < argc; ++at) lines.append("[").append(argv[at]).append("]\n");
      writeAll(STDOUT_FILENO, lines);
    } else if (step == "cwd") {
      char buffer[4096];
      writeAll(STDOUT_FILENO, std::string(::getcwd(buffer, sizeof buffer) ? buffer : "?") + "\n");
    } else if (step == "stdin") {
      char byte;
      writeAll(STDOUT_FILENO, ::read(STDIN_FILENO, &byte, 1) == 0 ? "eof" : "data");
    } else if (step == "group") {
      writeAll(STDOUT_FILENO, ::getpgrp() == ::getpid() ? "own" : "shared");
    } else if (step == "signals") {
      struct sigaction action {};
      ::sigaction(SIGINT, nullptr, &action);
      sigset_t mask;
      ::sigprocmask(SIG_SETMASK, nullptr, &mask);
      std::string text = action.sa_handler == SIG_IGN ? "int:ignored " : "int:default ";
      text += sigismember(&mask, SIGINT) ? "mask:int" : "mask:none";
      writeAll(STDOUT_FILENO, text);
    } else if (step == "orphan") {
      const int keepMs = std::stoi(next());
      if (::fork() == 0) {
        ::usleep(static_cast<useconds_t>(keepMs * 1000));
        ::_exit(0);
      }
    } else if (step == "pid") {
      writeAll(STDOUT_FILENO, std::to_string(::getpid()) + "\n");
    } else if (step == "wait-int") {
      ::signal(SIGINT, [](int) { interrupted = 1; });
      while (!interrupted) ::pause();
      writeAll(STDOUT_FILENO, "interrupted");
      return 255;
    } else if (step == "kill-self") {
      ::kill(::getpid(), SIGKILL);
    } else if (step == "exit") {
      return std::stoi(next());
    }
  }
  return 0;
}
