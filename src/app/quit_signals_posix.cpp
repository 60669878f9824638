// SPDX-License-Identifier: MIT
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <array>

#include "quit_signals.h"

namespace lirevo {
namespace {

// A signal handler can only reach globals: it writes one byte into this pair,
// and the window's thread, woken by the byte, closes the window.
std::array<int, 2> g_quitSignalPair{-1, -1};

void onQuitSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(g_quitSignalPair[0], &byte, 1);
}

}  // namespace

void closeOnQuitSignals(QWidget& window) {
  if (g_quitSignalPair[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_quitSignalPair.data()) != 0)
    return;
  // Owned by the window, so it goes with it.
  auto* notifier = new QSocketNotifier(g_quitSignalPair[1], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char bytes[16];
    while (::read(g_quitSignalPair[1], bytes, sizeof bytes) > 0) {
    }
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace lirevo
