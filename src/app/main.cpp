// SPDX-License-Identifier: MIT
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "main_window.h"
#include "program_directory.h"
#include "quit_signals.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The window hides at once when closed but the program ends only after
  // the recorder has been stopped and the settings saved.
  application.setQuitOnLastWindowClosed(false);

  lirevo::MainWindowSetup setup;
  setup.programDirectory = lirevo::programDirectory();
  setup.componentHost = LIREVO_COMPONENT_HOST;
  lirevo::MainWindow window(std::move(setup));
  QObject::connect(&window, &lirevo::MainWindow::closingFinished, &application, &QApplication::quit);
  lirevo::closeOnQuitSignals(window);
  window.show();
  const int status = application.exec();

  // Threads nobody waits for (a recording job, downloads) may still be
  // inside a window call or the display lock; they end with the process, as
  // they would at any other end, rather than meet a destroyed window.
  std::fflush(nullptr);
  std::_Exit(status);
}
