// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "component_check.h"
#include "player.h"
#include "qt_control_access.h"
#include "recorder_stop.h"
#include "recording_job.h"

namespace lirevo {

// Opens a path (GBK) with the desktop's default application, as a double
// click in the file manager would; failures are silent.
void openWithDesktop(const std::string& path);

// What the window does outside itself. The program uses the defaults; tests
// replace the parts that would start recorders, players or downloads, or
// signal processes of other programs on the machine.
struct MainWindowActions {
  std::function<void(const ComponentCheckContext&)> checkComponents = lirevo::checkComponents;
  std::function<void(const RecordingContext&)> runRecordingJob = lirevo::runRecordingJob;
  std::function<void(const std::string& programDirectory)> startPlayer = lirevo::startPlayer;
  std::function<void()> stopRecorder = lirevo::stopRecorder;
  std::function<bool(std::string_view name, int timeoutMs)> waitForProcessToEnd = lirevo::waitForProcessToEnd;
  std::function<bool(std::string_view name)> terminateProcessByName = lirevo::terminateProcessByName;
  std::function<void(const std::string& path)> openLocation = openWithDesktop;
  // Empty: showMessage shows a modal message box.
  QtControlAccess::MessageSink messageSink;
};

struct MainWindowSetup {
  std::string programDirectory;  // GBK, no trailing separator
  std::string componentHost;     // scheme and host of the component server
  // How long closing lets a stopped recorder finish its file before killing it.
  int recorderExitWaitMs = 5000;
  MainWindowActions actions;
};

// The program's one window. Its controls carry their design names as
// objectName; the caption of "按钮_开始" is the recording state.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // Builds the window from its design and runs the creation handler, which
  // starts the component check on a thread of its own.
  explicit MainWindow(MainWindowSetup setup);

  ControlAccess& controls() { return m_controls; }
  const std::string& programDirectory() const { return m_setup.programDirectory; }
  const std::string& recorderPath() const { return m_recorderPath; }

 signals:
  // Closing has stopped the recorder and saved the settings; the program may end.
  void closingFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class ClosingState { Open, Closing, Closed };

  void createControls();
  void onCreated();
  void onStartClicked();
  void onPlayClicked();
  void onOpenLocationClicked();
  void onSaveClicked();
  void waitForRecorderToExit();
  void finishClosing(bool recorderEnded);
  void fitOuterSize();
  void connectButton(std::string_view designName, void (MainWindow::*handler)());

  MainWindowSetup m_setup;
  QtControlAccess m_controls;
  std::string m_recorderPath;
  ClosingState m_closingState = ClosingState::Open;
  QElapsedTimer m_closingClock;
};

}  // namespace lirevo
