// SPDX-License-Identifier: MIT
#include "main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <utility>

#include "gbk_literal.h"
#include "program_directory.h"
#include "qt_text.h"
#include "settings_file.h"
#include "start_thread.h"
#include "window_design.h"

namespace lirevo {
namespace {

// Closing waits for the stopped recorder in slices this long, letting the
// window's thread serve worker calls in between.
constexpr int kRecorderWaitSliceMs = 50;

QString designText(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The widgets are children of the window, which owns and deletes them.
QWidget* makeControl(const ControlDesign& design, QWidget& window) {
  const QString text = designText(design.initialText);
  QWidget* widget = nullptr;
  switch (design.kind) {
    case ControlKind::Label:
    case ControlKind::TransparentLabel: {
      auto* label = new QLabel(&window);
      // Texts such as the quality notice come from web pages: never rich text.
      label->setTextFormat(Qt::PlainText);
      label->setText(text);
      // Neither kind paints a background of its own: the window shows through.
      label->setAutoFillBackground(false);
      widget = label;
      break;
    }
    case ControlKind::Button: {
      auto* button = new QPushButton(text, &window);
      button->setAutoDefault(false);
      widget = button;
      break;
    }
    case ControlKind::StatusBar: {
      auto* bar = new QStatusBar(&window);
      bar->setSizeGripEnabled(false);
      widget = bar;
      break;
    }
    case ControlKind::EditLine:
      widget = new QLineEdit(text, &window);
      break;
    case ControlKind::EditDisplay: {
      auto* display = new QPlainTextEdit(&window);
      display->setReadOnly(true);
      // The log is rewritten all the time; an undo history would only grow.
      display->setUndoRedoEnabled(false);
      display->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      display->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      QPalette palette = display->palette();
      palette.setColor(QPalette::Base, Qt::black);
      palette.setColor(QPalette::Text, Qt::white);
      display->setPalette(palette);
      display->setPlainText(text);
      widget = display;
      break;
    }
  }
  widget->setObjectName(designText(design.name));
  widget->setGeometry(design.left, design.top, design.width, design.height);
  widget->setEnabled(design.enabled);
  return widget;
}

}  // namespace

void openWithDesktop(const std::string& path) {
  if (path.empty()) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(toQString(path)));
}

MainWindow::MainWindow(MainWindowSetup setup)
    : m_setup(std::move(setup)), m_controls(*this, m_setup.actions.messageSink) {
  setWindowTitle(designText(kDesignCaption));
  move(kWindowLeft, kWindowTop);
  resize(kWindowWidth, kWindowHeight);
  createControls();
  connectButton("按钮_开始", &MainWindow::onStartClicked);
  connectButton("按钮_播放", &MainWindow::onPlayClicked);
  connectButton("按钮1", &MainWindow::onOpenLocationClicked);
  connectButton("按钮2", &MainWindow::onSaveClicked);
  onCreated();
}

void MainWindow::createControls() {
  QWidget* quality = nullptr;
  for (const ControlDesign& design : kMainWindowControls) {
    QWidget* widget = makeControl(design, *this);
    if (design.name == "标签1") quality = widget;
  }
  // The status bar overlaps the quality notice at the bottom; the notice stays readable above it.
  if (quality != nullptr) quality->raise();
}

void MainWindow::connectButton(std::string_view designName, void (MainWindow::*handler)()) {
  auto* button = findChild<QPushButton*>(designText(designName), Qt::FindDirectChildrenOnly);
  if (button != nullptr) connect(button, &QPushButton::clicked, this, handler);
}

void MainWindow::onCreated() {
  m_recorderPath = m_setup.programDirectory + std::string(pathSeparator()) + "ffm.exe";
  const ComponentCheckContext context{&m_controls, m_setup.programDirectory, m_recorderPath,
                                      m_setup.componentHost};
  startThread([check = m_setup.actions.checkComponents, context] { check(context); });
  setWindowTitle(QStringLiteral("Lirevov") + designText(kProgramVersion));
}

void MainWindow::onStartClicked() {
  const std::string& startButton = "按钮_开始"_gbk;
  const std::string caption = m_controls.text(startButton);
  if (caption == "开始下载"_gbk) {
    const RecordingContext context{&m_controls, m_setup.programDirectory, m_recorderPath};
    startThread([job = m_setup.actions.runRecordingJob, context] { job(context); });
    m_controls.setText(startButton, "停止下载"_gbk);
    m_controls.setEnabled("按钮_播放"_gbk, true);
    m_controls.setText("编辑框_下载目录"_gbk, {});
  } else if (caption == "停止下载"_gbk) {
    m_setup.actions.stopRecorder();
    m_controls.setText(startButton, "开始下载"_gbk);
    m_controls.setEnabled("按钮_播放"_gbk, false);
    m_controls.setText("编辑框_显示"_gbk, "下载完成，请查看软件运行目录的mp4文件：\r\n\r\n"_gbk +
                                              m_setup.programDirectory + std::string(pathSeparator()));
  }
}

void MainWindow::onPlayClicked() { m_setup.actions.startPlayer(m_setup.programDirectory); }

void MainWindow::onOpenLocationClicked() {
  m_setup.actions.openLocation(m_controls.text("编辑框_下载目录"_gbk));
}

void MainWindow::onSaveClicked() {
  std::string settingsFilePath;
  saveSettings(m_controls, settingsFilePath, "编辑框_显示"_gbk, m_setup.programDirectory);
  m_controls.showMessage("设置保存成功"_gbk);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Qt sizes the client area; the design fixes the outer size. The frame is
  // known only once the window is mapped, on some desktops a moment later.
  fitOuterSize();
  QTimer::singleShot(0, this, &MainWindow::fitOuterSize);
  QTimer::singleShot(300, this, &MainWindow::fitOuterSize);
}

void MainWindow::fitOuterSize() {
  const QSize frame = frameGeometry().size() - size();
  const QSize wanted = QSize(kWindowWidth, kWindowHeight) - frame;
  if (wanted.isValid() && wanted != size()) resize(wanted);
}

// Killing FFmpeg outright leaves an MP4 without its index, which no player
// opens. So closing stops the recorder as the stop button does, gives it a
// bounded time to finish its file, and only then kills what is left. The
// window disappears at once; its thread keeps serving the job thread's
// calls while it waits.
void MainWindow::closeEvent(QCloseEvent* event) {
  if (m_closingState == ClosingState::Closed) {
    event->accept();
    return;
  }
  event->ignore();
  if (m_closingState == ClosingState::Closing) return;
  m_closingState = ClosingState::Closing;
  hide();
  m_setup.actions.stopRecorder();
  m_closingClock.start();
  QTimer::singleShot(0, this, &MainWindow::waitForRecorderToExit);
}

void MainWindow::waitForRecorderToExit() {
  const bool ended = m_setup.actions.waitForProcessToEnd(kRecorderProcessName, kRecorderWaitSliceMs);
  if (!ended && m_closingClock.elapsed() < m_setup.recorderExitWaitMs) {
    QTimer::singleShot(0, this, &MainWindow::waitForRecorderToExit);
    return;
  }
  finishClosing(ended);
}

void MainWindow::finishClosing(bool recorderEnded) {
  if (!recorderEnded) m_setup.actions.terminateProcessByName(kRecorderProcessName);
  std::string settingsFilePath;
  saveSettings(m_controls, settingsFilePath, "编辑框_显示"_gbk, m_setup.programDirectory);
  m_closingState = ClosingState::Closed;
  emit closingFinished();
}

}  // namespace lirevo
