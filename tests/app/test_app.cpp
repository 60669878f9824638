// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "charset.h"
#include "component_check.h"
#include "display_log.h"
#include "gbk_literal.h"
#include "immutable_path.h"
#include "loopback_http_server.h"
#include "main_window.h"
#include "memory_window.h"
#include "page_server.h"
#include "profile_text.h"
#include "program_directory.h"
#include "range_server.h"
#include "recorder_stop.h"
#include "recording_fixtures.h"
#include "segmented_downloader.h"
#include "settings_file.h"
#include "window_design.h"

namespace fs = std::filesystem;

namespace lirevo {
namespace {

// Qt's warnings, collected so that a test can tell that no control was
// touched from a wrong thread.
std::mutex g_qtWarningsLock;
std::vector<std::string> g_qtWarnings;

void collectQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  std::lock_guard guard(g_qtWarningsLock);
  g_qtWarnings.push_back(message.toStdString());
}

std::vector<std::string> qtWarnings() {
  std::lock_guard guard(g_qtWarningsLock);
  return g_qtWarnings;
}

std::string gbk(std::string_view utf8) { return utf8ToGbk(utf8); }

class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (fs::temp_directory_path() / "lirevo-app-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    m_path = pattern;
  }
  ~TempDirectory() {
    std::error_code ignored;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_path, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const fs::path& path() const { return m_path; }
  std::string gbkPath() const { return utf8ToGbk(m_path.string()); }

 private:
  fs::path m_path;
};

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeBytes(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Lets the window's thread work until `done` holds or the time is up.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Records what the window asked of the outside world, from any thread.
class Probe {
 public:
  void record(std::string call) {
    std::lock_guard guard(m_lock);
    m_calls.push_back(std::move(call));
  }
  std::vector<std::string> calls() {
    std::lock_guard guard(m_lock);
    return m_calls;
  }
  int count(const std::string& call) {
    int n = 0;
    for (const std::string& c : calls()) n += c == call;
    return n;
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_calls;
};

bool alwaysEnded() { return true; }

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { create(); }

  // messageBox: the real message box instead of the test's sink.
  void create(int recorderExitWaitMs = 5000, std::function<bool()> recorderEnded = alwaysEnded,
              bool messageBox = false) {
    m_window.reset();
    MainWindowSetup setup;
    setup.programDirectory = m_directory.gbkPath();
    setup.componentHost = "http://127.0.0.1:9";
    setup.recorderExitWaitMs = recorderExitWaitMs;
    MainWindowActions& actions = setup.actions;
    // The fakes run on threads nobody joins: recording the call is the last
    // thing each does with the fixture, so that a test that has seen the call
    // may end and free it.
    actions.checkComponents = [this](const ComponentCheckContext& context) {
      {
        std::lock_guard guard(m_contextLock);
        m_checkContext = context;
        m_checkThread = std::this_thread::get_id();
      }
      m_probe.record("check");
    };
    actions.runRecordingJob = [this](const RecordingContext& context) {
      {
        std::lock_guard guard(m_contextLock);
        m_jobContext = context;
      }
      m_probe.record("job");
    };
    actions.startPlayer = [this](const std::string& directory) { m_probe.record("player " + directory); };
    actions.stopRecorder = [this] { m_probe.record("stop"); };
    actions.waitForProcessToEnd = [this, recorderEnded](std::string_view name, int timeoutMs) {
      m_probe.record("wait " + std::string(name));
      EXPECT_GT(timeoutMs, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return recorderEnded();
    };
    actions.terminateProcessByName = [this](std::string_view name) {
      m_probe.record("terminate " + std::string(name) + (fs::exists(settingsFile()) ? " after save" : ""));
      return true;
    };
    actions.openLocation = [this](const std::string& path) { m_probe.record("open " + path); };
    if (!messageBox) {
      actions.messageSink = [this](const std::string& text) {
        m_messageOnWindowThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        m_probe.record("message " + text);
      };
    }
    const int checksBefore = m_probe.count("check");
    m_window = std::make_unique<MainWindow>(std::move(setup));
    m_window->show();
    ASSERT_TRUE(pumpUntil([&] { return m_probe.count("check") == checksBefore + 1; }));
  }

  // Lets the fakes' threads, which end right after recording their call, finish.
  void TearDown() override {
    pumpUntil([] { return false; }, 20);
  }

  ControlAccess& controls() { return m_window->controls(); }

  template <class Widget = QWidget>
  Widget* widget(std::string_view utf8Name) {
    return m_window->findChild<Widget*>(QString::fromUtf8(utf8Name.data(), utf8Name.size()));
  }

  void click(std::string_view utf8Name) {
    QPushButton* button = widget<QPushButton>(utf8Name);
    ASSERT_NE(button, nullptr) << utf8Name;
    button->click();
  }

  fs::path settingsFile() const { return m_directory.path() / "data" / "setsoft.ini"; }

  TempDirectory m_directory;
  Probe m_probe;
  std::mutex m_contextLock;
  ComponentCheckContext m_checkContext;
  std::thread::id m_checkThread;
  RecordingContext m_jobContext;
  std::atomic<bool> m_messageOnWindowThread{false};
  std::unique_ptr<MainWindow> m_window;
};

const char* kindClass(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
    case ControlKind::TransparentLabel:
      return "QLabel";
    case ControlKind::Button:
      return "QPushButton";
    case ControlKind::StatusBar:
      return "QStatusBar";
    case ControlKind::EditLine:
      return "QLineEdit";
    case ControlKind::EditDisplay:
      return "QPlainTextEdit";
  }
  return "";
}

TEST_F(WindowTest, EveryControlOfTheDesignAtItsPlaceWithItsKindTextAndState) {
  for (const ControlDesign& design : kMainWindowControls) {
    QWidget* control = widget(design.name);
    ASSERT_NE(control, nullptr) << design.name;
    EXPECT_EQ(control->parentWidget(), m_window.get()) << design.name;
    EXPECT_TRUE(control->inherits(kindClass(design.kind))) << design.name;
    EXPECT_EQ(control->geometry(), QRect(design.left, design.top, design.width, design.height))
        << design.name;
    EXPECT_EQ(control->isEnabled(), design.enabled) << design.name;
    EXPECT_TRUE(control->isVisible()) << design.name;
    EXPECT_EQ(controls().text(gbk(design.name)), gbk(design.initialText)) << design.name;
  }
  EXPECT_EQ(controls().editBoxNames(),
            (std::vector<std::string>{"编辑框_下载目录"_gbk, "编辑框_显示"_gbk, "编辑框_url"_gbk}));
  EXPECT_EQ(controls().text("编辑框_url"_gbk), std::string(kSampleShareLink));
  EXPECT_NE(controls().text("编辑框_url"_gbk).find("douyin.com"), std::string::npos);
}

TEST_F(WindowTest, WindowSitsAt50And50WithTheOuterSizeOfTheDesign) {
  ASSERT_TRUE(pumpUntil([&] { return m_window->frameGeometry().size() == QSize(539, 366); }, 2000))
      << m_window->frameGeometry().width() << "x" << m_window->frameGeometry().height();
  EXPECT_EQ(m_window->frameGeometry().topLeft(), QPoint(50, 50));
  EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Lirevov3.6"));
}

TEST_F(WindowTest, DisplayBoxIsReadOnlyWhiteOnBlackWithoutScrollBars) {
  auto* display = widget<QPlainTextEdit>("编辑框_显示");
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(display->isReadOnly());
  EXPECT_EQ(display->palette().color(QPalette::Base), QColor(Qt::black));
  EXPECT_EQ(display->palette().color(QPalette::Text), QColor(Qt::white));
  EXPECT_EQ(display->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(display->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(controls().text("编辑框_显示"_gbk), "");
  EXPECT_FALSE(controls().isEnabled("按钮_播放"_gbk));
  EXPECT_EQ(widget<QLabel>("标签1")->textFormat(), Qt::PlainText);
}

TEST_F(WindowTest, CreationStartsTheComponentCheckOnAThreadOfItsOwn) {
  std::lock_guard guard(m_contextLock);
  EXPECT_EQ(m_checkContext.window, &controls());
  EXPECT_EQ(m_checkContext.programDirectory, m_directory.gbkPath());
  EXPECT_EQ(m_checkContext.recorderPath, m_directory.gbkPath() + "/ffm.exe");
  EXPECT_EQ(m_checkContext.componentHost, "http://127.0.0.1:9");
  EXPECT_NE(m_checkThread, std::this_thread::get_id());
  EXPECT_EQ(m_window->recorderPath(), m_directory.gbkPath() + "/ffm.exe");
}

TEST_F(WindowTest, StartButtonIsATwoStateMachineHeldInItsCaption) {
  struct Step {
    const char* name;
    bool press;
    std::string captionBefore;  // empty: as left by the step before
    std::string captionAfter;
    bool playEnabled;
    int jobs;   // recording jobs started so far
    int stops;  // stops sent so far
    std::string display;
    std::string downloadLocation;
  };
  const std::string completion =
      "下载完成，请查看软件运行目录的mp4文件：\r\n\r\n"_gbk + m_directory.gbkPath() + "/";
  const std::string location = gbk("/某处/目录");
  const Step steps[] = {
      {"idle, start pressed", true, "", "停止下载"_gbk, true, 1, 0, "", ""},
      {"recording, the job ended by itself", false, "", "停止下载"_gbk, true, 1, 0, "", ""},
      {"recording, stop pressed", true, "", "开始下载"_gbk, false, 1, 1, completion, ""},
      {"idle again, start pressed", true, "", "停止下载"_gbk, true, 2, 1, completion, ""},
      {"stop pressed again", true, "", "开始下载"_gbk, false, 2, 2, completion, ""},
      {"a caption of neither state", true, gbk("别的"), gbk("别的"), false, 2, 2, completion, location},
      {"a caption differing only in a blank", true, "开始下载"_gbk + " ", "开始下载"_gbk + " ", false, 2, 2,
       completion, location},
  };
  for (const Step& step : steps) {
    const std::string locationBefore = controls().text("编辑框_下载目录"_gbk);
    if (step.press) controls().setText("编辑框_下载目录"_gbk, location);
    if (!step.captionBefore.empty()) controls().setText("按钮_开始"_gbk, step.captionBefore);
    if (step.press) click("按钮_开始");
    ASSERT_TRUE(pumpUntil([&] { return m_probe.count("job") == step.jobs; })) << step.name;
    EXPECT_EQ(controls().text("按钮_开始"_gbk), step.captionAfter) << step.name;
    EXPECT_EQ(controls().isEnabled("按钮_播放"_gbk), step.playEnabled) << step.name;
    EXPECT_EQ(m_probe.count("stop"), step.stops) << step.name;
    EXPECT_EQ(controls().text("编辑框_显示"_gbk), step.display) << step.name;
    const bool started = step.press && step.captionAfter == "停止下载"_gbk;
    EXPECT_EQ(controls().text("编辑框_下载目录"_gbk),
              started ? std::string() : (step.press ? location : locationBefore))
        << step.name;
  }
  std::lock_guard guard(m_contextLock);
  EXPECT_EQ(m_jobContext.window, &controls());
  EXPECT_EQ(m_jobContext.programDirectory, m_directory.gbkPath());
  EXPECT_EQ(m_jobContext.recorderPath, m_directory.gbkPath() + "/ffm.exe");
}

TEST_F(WindowTest, PlayButtonStartsThePlayerOnlyWhileRecording) {
  const std::string player = "player " + m_directory.gbkPath();
  click("按钮_播放");
  EXPECT_EQ(m_probe.count(player), 0) << "disabled while idle";
  click("按钮_开始");
  click("按钮_播放");
  click("按钮_播放");
  EXPECT_EQ(m_probe.count(player), 2) << "one player per press while recording";
  click("按钮_开始");
  click("按钮_播放");
  EXPECT_EQ(m_probe.count(player), 2) << "disabled again after the stop";
}

TEST_F(WindowTest, OpenButtonOpensWhateverTheDownloadBoxHolds) {
  const std::string path = gbk("/录像/1700000000000.mp4");
  controls().setText("编辑框_下载目录"_gbk, path);
  click("按钮1");
  click("按钮_开始");
  click("按钮1");
  EXPECT_EQ(m_probe.count("open " + path), 1);
  EXPECT_EQ(m_probe.count("open "), 1) << "the emptied box is handed on as it is";
  // The desktop opener itself stays silent for what it cannot open.
  openWithDesktop("");
  openWithDesktop(gbk("/没有/这个文件.mp4"));
}

TEST_F(WindowTest, SaveButtonWritesTheEditBoxesButTheDisplayAndReports) {
  controls().setText("编辑框_显示"_gbk, "log text");
  controls().setText("编辑框_下载目录"_gbk, gbk("/下载"));
  click("按钮2");
  EXPECT_EQ(readBytes(settingsFile()),
            gbk("[编辑框]\r\n编辑框_下载目录=/下载\r\n编辑框_url=") + std::string(kSampleShareLink) + "\r\n");
  EXPECT_EQ(m_probe.count("message " + "设置保存成功"_gbk), 1);
  EXPECT_TRUE(m_messageOnWindowThread);
}

TEST_F(WindowTest, WithoutASinkMessagesAreAModalBoxAndTheCallerWaits) {
  create(5000, alwaysEnded, true);
  QString caption, text;
  bool modal = false;
  int boxes = 0;
  // Answers every box that comes up, the way a user would.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    ++boxes;
    caption = box->windowTitle();
    text = box->text();
    modal = box->windowModality() == Qt::ApplicationModal && box->parentWidget() == m_window.get();
    box->button(QMessageBox::Ok)->click();
  });
  answer.start(20);
  click("按钮2");
  EXPECT_EQ(boxes, 1) << "the save button returns only once the box is closed";
  EXPECT_EQ(caption, QStringLiteral("信息："));
  EXPECT_EQ(text, QStringLiteral("设置保存成功"));
  EXPECT_TRUE(modal);

  std::atomic<bool> returned{false};
  std::thread worker([&] {
    controls().showMessage(gbk("来自线程的消息"));
    returned = true;
  });
  const bool answered = pumpUntil([&] { return returned.load(); });
  worker.join();
  ASSERT_TRUE(answered);
  EXPECT_EQ(boxes, 2);
  EXPECT_EQ(text, QStringLiteral("来自线程的消息"));
}

TEST_F(WindowTest, ClosingStopsTheRecorderWaitsBoundedThenKillsAndSaves) {
  struct Case {
    const char* name;
    int endsAfterWaits;  // 0: never
    bool killed;
  } cases[] = {{"recorder finishes its file in time", 3, false}, {"recorder does not end", 0, true}};
  for (const Case& c : cases) {
    std::error_code ignored;
    fs::remove(settingsFile(), ignored);
    auto waits = std::make_shared<std::atomic<int>>(0);
    create(300, [waits, c] { return ++*waits == c.endsAfterWaits; });
    controls().setText("编辑框_url"_gbk, "closing");
    bool finished = false;
    QObject::connect(m_window.get(), &MainWindow::closingFinished, [&] { finished = true; });
    const auto before = m_probe.calls().size();
    m_window->close();
    EXPECT_FALSE(m_window->isVisible()) << c.name << ": hidden at once";
    ASSERT_TRUE(pumpUntil([&] { return finished; })) << c.name;
    std::vector<std::string> calls = m_probe.calls();
    calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_FALSE(calls.empty()) << c.name;
    EXPECT_EQ(calls.front(), "stop") << c.name;
    EXPECT_GE(std::count(calls.begin(), calls.end(), "wait ffm.exe"), c.killed ? 2 : 3) << c.name;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "terminate ffm.exe"), c.killed ? 1 : 0) << c.name;
    if (c.killed) {
      EXPECT_EQ(calls.back(), "terminate ffm.exe") << c.name << ": killed before the save";
    }
    EXPECT_NE(readBytes(settingsFile()).find("=closing\r\n"), std::string::npos) << c.name;
    EXPECT_TRUE(m_window->close()) << c.name << ": a closed window closes for real";
  }
}

TEST_F(WindowTest, DisplayIsEmptiedOnlyPastTwoThousandGbkBytes) {
  const std::string chinese = gbk("汉");
  struct Case {
    const char* name;
    std::string before;
    bool emptied;
  };
  std::string thousandChinese;
  for (int i = 0; i < 1000; ++i) thousandChinese += chinese;
  std::string withLineBreaks;
  while (withLineBreaks.size() < 2000) withLineBreaks += std::string(18, 'x') + "\r\n";
  withLineBreaks.resize(1998);
  withLineBreaks += "\r\n";
  const Case cases[] = {
      {"2000 ASCII bytes stay", std::string(2000, 'x'), false},
      {"2001 ASCII bytes are emptied", std::string(2001, 'x'), true},
      {"1000 Chinese characters are 2000 bytes and stay", thousandChinese, false},
      {"1000 Chinese characters and one byte are emptied", thousandChinese + "x", true},
      {"line breaks count two bytes each", withLineBreaks, false},
      {"and one more byte empties", withLineBreaks + "x", true},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.before.size() > 2000, c.emptied) << c.name;
    controls().setText("编辑框_显示"_gbk, c.before);
    ASSERT_EQ(controls().text("编辑框_显示"_gbk), c.before) << c.name;
    appendToDisplay(controls(), gbk("新行"));
    EXPECT_EQ(controls().text("编辑框_显示"_gbk), (c.emptied ? std::string() : c.before) + gbk("新行\r\n"))
        << c.name;
  }
}

TEST_F(WindowTest, AppendGoesToTheEndWhateverTheUserSelectedAndShowsTheNewestLine) {
  auto* display = widget<QPlainTextEdit>("编辑框_显示");
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    const std::string line = "line " + std::to_string(i);
    appendToDisplay(controls(), line);
    expected += line + "\r\n";
  }
  // The user selects a word near the top and leaves the caret there.
  QTextCursor selection(display->document());
  selection.setPosition(5);
  selection.setPosition(9, QTextCursor::KeepAnchor);
  display->setTextCursor(selection);
  display->verticalScrollBar()->setValue(0);
  ASSERT_TRUE(display->textCursor().hasSelection());

  appendToDisplay(controls(), gbk("最新"));
  expected += gbk("最新\r\n");
  EXPECT_EQ(controls().text("编辑框_显示"_gbk), expected);
  QCoreApplication::processEvents();
  QScrollBar* bar = display->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_TRUE(display->viewport()->rect().intersects(display->cursorRect()));
}

TEST_F(WindowTest, ControlsAnswerFromOtherThreadsOnTheWindowThread) {
  const std::size_t warningsBefore = qtWarnings().size();
  std::atomic<bool> done{false};
  std::vector<std::string> seen;
  std::thread worker([&] {
    ControlAccess& window = controls();
    window.setText("编辑框_url"_gbk, gbk("来自线程"));
    seen.push_back(window.text("编辑框_url"_gbk));
    window.appendText("编辑框_url"_gbk, "+1");
    seen.push_back(window.text("编辑框_url"_gbk));
    window.setText("标签1"_gbk, gbk("<b>原样</b>"));
    seen.push_back(window.text("标签1"_gbk));
    window.setEnabled("按钮_播放"_gbk, true);
    seen.push_back(window.isEnabled("按钮_播放"_gbk) ? "enabled" : "disabled");
    window.appendText("编辑框_显示"_gbk, "a\r\nb");
    seen.push_back(window.text("编辑框_显示"_gbk));
    seen.push_back(window.text(gbk("没有这个控件")));
    window.showMessage(gbk("线程消息"));
    seen.push_back(std::to_string(m_probe.count("message " + gbk("线程消息"))));
    done = true;
  });
  const bool finished = pumpUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(seen, (std::vector<std::string>{gbk("来自线程"), gbk("来自线程+1"), gbk("<b>原样</b>"), "enabled",
                                            "a\r\nb", "", "1"}));
  EXPECT_EQ(widget<QLineEdit>("编辑框_url")->text(), QStringLiteral("来自线程+1"));
  EXPECT_TRUE(m_messageOnWindowThread) << "the message sink runs on the window's thread";
  const std::vector<std::string> warnings = qtWarnings();
  for (std::size_t i = warningsBefore; i < warnings.size(); ++i) {
    const QString warning = QString::fromStdString(warnings[i]);
    EXPECT_FALSE(warning.contains("thread", Qt::CaseInsensitive) || warning.contains("QObject") ||
                 warning.contains("QWidget"))
        << warnings[i];
  }
}

TEST_F(WindowTest, TwoThreadsAppendingThroughTheWindowNeverInterleave) {
  std::atomic<int> running{2};
  const std::string lineA(30, 'a'), lineB(30, 'b');
  auto writer = [&](const std::string& line) {
    for (int i = 0; i < 300; ++i) appendToDisplay(controls(), line);
    --running;
  };
  std::thread a(writer, lineA), b(writer, lineB);
  const bool finished = pumpUntil([&] { return running == 0; }, 30000);
  a.join();
  b.join();
  ASSERT_TRUE(finished);
  const std::string text = controls().text("编辑框_显示"_gbk);
  EXPECT_LE(text.size(), kDisplayLimitBytes + 32);
  ASSERT_EQ(text.size() % 32, 0u);
  for (std::size_t at = 0; at < text.size(); at += 32) {
    const std::string line = text.substr(at, 32);
    EXPECT_TRUE(line == lineA + "\r\n" || line == lineB + "\r\n") << at;
  }
}

// Settings through the real window: what a box holds, what the file says,
// what comes back.
TEST_F(WindowTest, SettingsRoundTripThroughTheFile) {
  struct Case {
    const char* name;
    std::string text;
    std::string inFile;
    std::string restored;
  };
  const std::string quote = "#引号"_gbk;
  const Case cases[] = {
      {"a quote between letters", "a\"b", "a" + quote + "b", "a\"b"},
      {"two lines", "one\r\ntwo", "one><br><two", "one\r\ntwo"},
      {"the literal line-break token", "x><br><y", "x><br><y", "x\r\ny"},
      {"the literal quote token", "x" + quote + "y", "x" + quote + "y", "x\"y"},
      {"line break before quote, encoded in order", "\"\r\n\"", quote + "><br><" + quote, "\"\r\n\""},
      {"Chinese text", gbk("直播间 链接"), gbk("直播间 链接"), gbk("直播间 链接")},
      {"blanks at both ends survive", "  padded ", "\"  padded \"", "  padded "},
      {"enclosing single quotes survive", "'quoted'", "\"'quoted'\"", "'quoted'"},
      {"an empty value leaves the box alone", "", "", gbk("保持")},
  };
  for (const Case& c : cases) {
    std::string path;
    controls().setText("编辑框_url"_gbk, c.text);
    ASSERT_EQ(controls().text("编辑框_url"_gbk), c.text) << c.name;
    EXPECT_EQ(saveSettings(controls(), path, "编辑框_显示"_gbk, m_directory.gbkPath()), 3) << c.name;
    EXPECT_EQ(path, m_directory.gbkPath() + "/data/setsoft.ini") << c.name;
    const std::string bytes = readBytes(settingsFile());
    EXPECT_NE(bytes.find("\r\n" + "编辑框_url"_gbk + "=" + c.inFile + "\r\n"), std::string::npos)
        << c.name << ": " << bytes;
    controls().setText("编辑框_url"_gbk, gbk("保持"));
    std::string restorePath;
    EXPECT_EQ(restoreSettings(controls(), restorePath, m_directory.gbkPath()), 3) << c.name;
    EXPECT_EQ(controls().text("编辑框_url"_gbk), c.restored) << c.name;
  }
}

TEST_F(WindowTest, ExclusionListNamesBoxesExactly) {
  struct Case {
    const char* name;
    std::string excluded;
    std::vector<std::string> keys;
  };
  const std::string download = "编辑框_下载目录"_gbk, display = "编辑框_显示"_gbk, url = "编辑框_url"_gbk;
  const Case cases[] = {
      {"nothing excluded", "", {download, display, url}},
      {"the display", display, {download, url}},
      {"two names", display + "|" + url, {download}},
      {"other letter case does not exclude", display + "|" + gbk("编辑框_URL"), {download, url}},
      {"a trailing blank does not exclude", display + " ", {download, display, url}},
      {"an empty entry excludes nothing", "|" + display + "||", {download, url}},
  };
  controls().setText("编辑框_显示"_gbk, "shown");
  for (const Case& c : cases) {
    std::error_code ignored;
    fs::remove(settingsFile(), ignored);
    std::string path;
    EXPECT_EQ(saveSettings(controls(), path, c.excluded, m_directory.gbkPath()), 3) << c.name;
    std::string expected = "[编辑框]\r\n"_gbk;
    for (const std::string& key : c.keys) expected += key + "=" + controls().text(key) + "\r\n";
    EXPECT_EQ(readBytes(settingsFile()), expected) << c.name;
  }
}

TEST_F(WindowTest, RestoreAtStartCreatesTheMissingDataDirectoryAndNothingElse) {
  ASSERT_FALSE(fs::exists(m_directory.path() / "data"));
  std::string path;
  EXPECT_EQ(restoreSettings(controls(), path, m_directory.gbkPath()), 3);
  EXPECT_EQ(path, m_directory.gbkPath() + "/data/setsoft.ini");
  EXPECT_TRUE(fs::is_directory(m_directory.path() / "data"));
  EXPECT_TRUE(fs::is_empty(m_directory.path() / "data"));
  EXPECT_EQ(controls().text("编辑框_url"_gbk), std::string(kSampleShareLink));
  EXPECT_EQ(controls().text("编辑框_下载目录"_gbk), "");
}

TEST_F(WindowTest, AFileWrittenByAnotherProgramKeepsEveryOtherByte) {
  const std::string before =
      gbk("; kept by hand\r\n"
          "[其他]\r\n"
          "编辑框_url=not ours\r\n"
          "\r\n"
          "[ 编辑框 ]\r\n"
          "编辑框_url = old\r\n"
          "no equals sign here\n"
          "other=1\n"
          "\r\n"
          "[后面]\r\n"
          "x=y");
  writeBytes(settingsFile(), before);
  std::string path;
  restoreSettings(controls(), path, m_directory.gbkPath());
  EXPECT_EQ(controls().text("编辑框_url"_gbk), "old") << "read from its own section, blanks dropped";
  EXPECT_EQ(controls().text("编辑框_下载目录"_gbk), "");

  controls().setText("编辑框_url"_gbk, gbk("新链接"));
  controls().setText("编辑框_下载目录"_gbk, "/d");
  saveSettings(controls(), path, "编辑框_显示"_gbk, m_directory.gbkPath());
  EXPECT_EQ(readBytes(settingsFile()), gbk("; kept by hand\r\n"
                                           "[其他]\r\n"
                                           "编辑框_url=not ours\r\n"
                                           "\r\n"
                                           "[ 编辑框 ]\r\n"
                                           "编辑框_url = 新链接\r\n"
                                           "no equals sign here\n"
                                           "other=1\n"
                                           "编辑框_下载目录=/d\r\n"
                                           "\r\n"
                                           "[后面]\r\n"
                                           "x=y"));

  // A file without the section gets it at its end, on a line of its own.
  writeBytes(settingsFile(), "[a]\r\nb=c");
  saveSettings(controls(), path, "编辑框_显示"_gbk, m_directory.gbkPath());
  EXPECT_EQ(readBytes(settingsFile()),
            gbk("[a]\r\nb=c\r\n[编辑框]\r\n编辑框_下载目录=/d\r\n编辑框_url=新链接\r\n"));
}

TEST(ProfileText, ReadsAsTheProfileCallsRead) {
  const std::string section = "编辑框"_gbk, key = "编辑框_url"_gbk;
  const std::string head = "[编辑框]\r\n"_gbk;
  struct Case {
    const char* name;
    std::string file;
    std::string expected;
  };
  const std::string trailA = "\x81\x41", trailLowerA = "\x81\x61";
  const Case cases[] = {
      {"plain", head + key + "=v\r\n", "v"},
      {"no line end at the end", head + key + "=v", "v"},
      {"line feeds only", "[编辑框]\n"_gbk + key + "=v\n", "v"},
      {"blanks around key and value", head + " " + key + "\t=  v w \t\r\n", "v w"},
      {"double quotes removed", head + key + "=\" v \"\r\n", " v "},
      {"single quotes removed", head + key + "='v'\r\n", "v"},
      {"unmatched quote kept", head + key + "=\"v\r\n", "\"v"},
      {"lone quote kept", head + key + "=\"\r\n", "\""},
      {"missing key", head + "other=v\r\n", ""},
      {"missing section", key + "=v\r\n", ""},
      {"key in another section", "[x]\r\n" + key + "=v\r\n" + head, ""},
      {"first key wins", head + key + "=1\r\n" + key + "=2\r\n", "1"},
      {"first section wins", head + "a=1\r\n" + head + key + "=2\r\n", ""},
      {"comment is no key", head + ";" + key + "=v\r\n", ""},
      {"line without equals sign is no key", head + key + "\r\n" + key + "=v\r\n", "v"},
      {"ASCII case folded in keys", head + gbk("编辑框_URL") + "=v\r\n", "v"},
      {"value up to its zero byte", head + key + "=ab" + std::string(1, '\0') + "cd\r\n", "ab"},
      {"value keeps a later equals sign", head + key + "=a=b\r\n", "a=b"},
  };
  for (const Case& c : cases) EXPECT_EQ(readProfileValue(c.file, section, key), c.expected) << c.name;

  // A trail byte that looks like a letter is part of its character, not folded.
  EXPECT_EQ(readProfileValue("[s]\r\n" + trailLowerA + "=v\r\n", "s", trailA), "");
  EXPECT_EQ(readProfileValue("[s]\r\n" + trailA + "=v\r\n", "s", trailA), "v");
  // A "]" trail byte inside a section name does not end it.
  const std::string bracketTrail = "\x81\x5D";
  EXPECT_EQ(readProfileValue("[" + bracketTrail + "]\r\nk=v\r\n", bracketTrail, "k"), "v");

  // At most 10239 bytes come back, never half a character.
  const std::string big(20000, 'a');
  EXPECT_EQ(readProfileValue(head + key + "=" + big, section, key), std::string(10239, 'a'));
  std::string chinese;
  while (chinese.size() < 12000) chinese += gbk("汉");
  EXPECT_EQ(readProfileValue(head + key + "=" + chinese, section, key), chinese.substr(0, 10238));
}

TEST(ProfileText, WritesInPlaceAndAppendsAtTheEndOfTheSection) {
  struct Case {
    const char* name;
    std::string before;
    std::string value;
    std::string after;
  };
  const Case cases[] = {
      {"new file", "", "v", "[s]\r\nk=v\r\n"},
      {"replaced in its line", "[s]\r\nk=old\r\nz=1\r\n", "new", "[s]\r\nk=new\r\nz=1\r\n"},
      {"spacing and line end kept", "[s]\r\nk  =  old\nz=1", "new", "[s]\r\nk  =  new\nz=1"},
      {"appended after the last line of the section", "[s]\r\na=1\r\n\r\n[t]\r\n", "v",
       "[s]\r\na=1\r\nk=v\r\n\r\n[t]\r\n"},
      {"appended to a last line without line end", "[s]\r\na=1", "v", "[s]\r\na=1\r\nk=v\r\n"},
      {"new section after a last line without line end", "[t]\r\na=1", "v", "[t]\r\na=1\r\n[s]\r\nk=v\r\n"},
      {"empty value", "[s]\r\nk=old\r\n", "", "[s]\r\nk=\r\n"},
      {"value with blanks at its ends quoted", "", " v ", "[s]\r\nk=\" v \"\r\n"},
      {"value in single quotes quoted", "", "'v'", "[s]\r\nk=\"'v'\"\r\n"},
      {"inner blanks not quoted", "", "a b", "[s]\r\nk=a b\r\n"},
  };
  for (const Case& c : cases) {
    const std::string after = writeProfileValue(c.before, "s", "k", c.value);
    EXPECT_EQ(after, c.after) << c.name;
    EXPECT_EQ(readProfileValue(after, "s", "k"), c.value) << c.name;
  }
}

TEST(SettingsValue, EncodingOrderAndExactness) {
  struct Case {
    const char* name;
    std::string text;
    std::string encoded;
  };
  const std::string quote = "#引号"_gbk;
  const Case cases[] = {
      {"line break", "a\r\nb", "a><br><b"},
      {"quote", "a\"b", "a" + quote + "b"},
      {"lone carriage return and line feed stay", "a\rb\nc", "a\rb\nc"},
      {"every occurrence", "\r\n\r\n\"\"", "><br><><br><" + quote + quote},
      {"line feed then carriage return is no line break", "\n\r", "\n\r"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(encodeSettingValue(c.text), c.encoded) << c.name;
    EXPECT_EQ(decodeSettingValue(c.encoded), c.text) << c.name;
  }
  EXPECT_EQ(decodeSettingValue("><BR><"), "><BR><") << "case-sensitive";
  EXPECT_EQ(decodeSettingValue("><br><br><"), "\r\nbr><") << "left to right, no rescan";
}

TEST(SettingsFile, BadFilesNeverCrashHangOrChangeTheBoxes) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& file)> make;
    std::string restoredUrl;  // empty: the design text stays
    bool savedOver;           // a save may replace it
  };
  const std::string key = "编辑框_url"_gbk;
  const std::string head = "[编辑框]\r\n"_gbk;
  const Case cases[] = {
      {"not GBK at all", [](const fs::path& f) { writeBytes(f, std::string("\xFF\xFE\x00\x80\xFF[", 6)); },
       "", true},
      {"a value that is not GBK", [&](const fs::path& f) { writeBytes(f, head + key + "=\xFF\xFF\r\n"); }, "",
       true},
      {"a value ending in half a character",
       [&](const fs::path& f) { writeBytes(f, head + key + "=ab\xB1"); }, "", true},
      {"no section", [&](const fs::path& f) { writeBytes(f, key + "=v\r\n"); }, "", true},
      {"lines without equals signs", [&](const fs::path& f) { writeBytes(f, head + key + "\r\n\r\nxyz"); },
       "", true},
      {"an empty file", [](const fs::path& f) { writeBytes(f, ""); }, "", true},
      {"a 1 MiB value",
       [&](const fs::path& f) { writeBytes(f, head + key + "=" + std::string(1 << 20, 'v')); },
       std::string(10239, 'v'), true},
      {"a directory", [](const fs::path& f) { fs::create_directories(f); }, "", false},
      {"a named pipe",
       [](const fs::path& f) {
         fs::create_directories(f.parent_path());
         ::mkfifo(f.c_str(), 0600);
       },
       "", false},
      {"a file too large to be settings",
       [&](const fs::path& f) {
         writeBytes(f, head + key + "=v\r\n");
         fs::resize_file(f, kSettingsFileMaxBytes + 1);
       },
       "", false},
  };
  for (const Case& c : cases) {
    TempDirectory directory;
    const fs::path file = directory.path() / "data" / "setsoft.ini";
    c.make(file);
    const auto type = fs::symlink_status(file).type();
    const auto size = fs::is_regular_file(file) ? fs::file_size(file) : 0;
    MemoryWindow window;
    std::string path;
    EXPECT_EQ(restoreSettings(window, path, directory.gbkPath()), 3) << c.name;
    EXPECT_EQ(window.text(key), c.restoredUrl.empty() ? std::string(kSampleShareLink) : c.restoredUrl)
        << c.name;
    EXPECT_EQ(window.text("编辑框_下载目录"_gbk), "") << c.name;

    window.setText(key, "saved");
    EXPECT_EQ(saveSettings(window, path, "编辑框_显示"_gbk, directory.gbkPath()), 3) << c.name;
    if (c.savedOver) {
      window.setText(key, "other");
      restoreSettings(window, path, directory.gbkPath());
      EXPECT_EQ(window.text(key), "saved") << c.name;
    } else {
      EXPECT_EQ(fs::symlink_status(file).type(), type) << c.name << ": left as it was";
      if (type == fs::file_type::regular) {
        EXPECT_EQ(fs::file_size(file), size) << c.name;
      }
    }
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
      EXPECT_EQ(entry.path().filename(), "setsoft.ini") << c.name << ": nothing left behind";
    }
  }
}

TEST(SettingsFile, SaveReplacesTheFileWholeKeepingItsModeAndLink) {
  TempDirectory directory;
  const fs::path data = directory.path() / "data";
  const fs::path real = directory.path() / "elsewhere.ini";
  writeBytes(real, "[keep]\r\na=b\r\n");
  ::chmod(real.c_str(), 0600);
  fs::create_directories(data);
  fs::create_symlink(real, data / "setsoft.ini");
  MemoryWindow window;
  std::string path;
  saveSettings(window, path, "编辑框_显示"_gbk, directory.gbkPath());
  EXPECT_TRUE(fs::is_symlink(data / "setsoft.ini"));
  EXPECT_EQ(readBytes(real), "[keep]\r\na=b\r\n"_gbk + "[编辑框]\r\n编辑框_下载目录=\r\n编辑框_url="_gbk +
                                 std::string(kSampleShareLink) + "\r\n");
  struct stat info {};
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory.path())) names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"data", "elsewhere.ini"}));
}

TEST(SettingsFile, ConcurrentSavesAndRestoresNeverTearTheFile) {
  TempDirectory directory;
  MemoryWindow first, second, reader;
  first.setText("编辑框_url"_gbk, std::string(3000, '1'));
  second.setText("编辑框_url"_gbk, std::string(5000, '2'));
  std::atomic<bool> torn{false};
  auto saver = [&](MemoryWindow& window) {
    for (int i = 0; i < 100; ++i) {
      std::string path;
      saveSettings(window, path, "编辑框_显示"_gbk, directory.gbkPath());
    }
  };
  std::thread a(saver, std::ref(first)), b(saver, std::ref(second));
  std::thread c([&] {
    for (int i = 0; i < 200; ++i) {
      std::string path;
      restoreSettings(reader, path, directory.gbkPath());
      const std::string url = reader.text("编辑框_url"_gbk);
      if (url != std::string(kSampleShareLink) && url != first.text("编辑框_url"_gbk) &&
          url != second.text("编辑框_url"_gbk))
        torn = true;
    }
  });
  a.join();
  b.join();
  c.join();
  EXPECT_FALSE(torn);
  const std::string bytes = readBytes(directory.path() / "data" / "setsoft.ini");
  EXPECT_EQ(bytes.find("编辑框_url"_gbk), bytes.rfind("编辑框_url"_gbk)) << "one key, not two";
}

TEST(SettingsFile, EnsureDirectoryCreatesEveryLevel) {
  TempDirectory directory;
  const std::string nested = directory.gbkPath() + gbk("/程序 目录/二/data");
  ensureDirectory(nested);
  EXPECT_TRUE(fs::is_directory(directory.path() / "程序 目录" / "二" / "data"));
  ensureDirectory(nested);  // existing levels are no failure
  EXPECT_TRUE(fs::is_directory(directory.path() / "程序 目录" / "二" / "data"));

  // A settings file under a Chinese program directory lands at its UTF-8 name on disk.
  MemoryWindow window;
  std::string path;
  saveSettings(window, path, "", directory.gbkPath() + gbk("/程序 目录"));
  EXPECT_TRUE(fs::is_regular_file(directory.path() / "程序 目录" / "data" / "setsoft.ini"));

  const fs::path before = fs::current_path();
  fs::current_path(directory.path());
  ensureDirectory("ab");
  EXPECT_FALSE(fs::exists(directory.path() / "ab")) << "fewer than three characters";
  ensureDirectory("rel/a/b");
  EXPECT_TRUE(fs::is_directory(directory.path() / "rel" / "a" / "b"));
  fs::current_path(before);
}

// ------------------------------------------------------------ component check

// PATH as a test wants it, put back afterwards.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& value) {
    const char* old = std::getenv("PATH");
    m_had = old != nullptr;
    if (m_had) m_old = old;
    ::setenv("PATH", value.c_str(), 1);
  }
  ~ScopedPath() {
    if (m_had) {
      ::setenv("PATH", m_old.c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
  }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  bool m_had = false;
  std::string m_old;
};

std::string randomBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs = 30000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

const std::string& downloadNotice() { return "组件缺失，正在下载，请耐心等待，下载完成后再使用。"_gbk; }

std::string progressText(int task, long long done, long long total) {
  return std::to_string(task) + ":已完成"_gbk + std::to_string(done) + "/" + std::to_string(total) +
         "\r\n组件缺失，请在下载完成组件后，再开始下载抖音直播"_gbk;
}

bool isExecutable(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// A program directory, a PATH directory and a component server of the test's
// own, and an in-memory window that keeps every text the display box showed.
class ComponentCheckTest : public ::testing::Test {
 protected:
  ComponentCheckTest() {
    m_window.onTextChanged([this](const std::string& name, const std::string& text) {
      if (name != "编辑框_显示"_gbk) return;
      std::lock_guard guard(m_lock);
      m_shown.push_back(text);
      m_messagesAtFirstShow.push_back(m_window.messages().size());
    });
  }

  // Links named like the system programs into the PATH directory.
  void installSystemPrograms(bool ffmpeg, bool ffplay) {
    if (ffmpeg) fs::create_symlink("/usr/bin/ffmpeg", m_systemDirectory.path() / "ffmpeg");
    if (ffplay) fs::create_symlink(systemFfplay(), m_systemDirectory.path() / "ffplay");
  }

  // ffplay, or a stand-in script where the machine has none.
  fs::path systemFfplay() {
    if (fs::exists("/usr/bin/ffplay")) return "/usr/bin/ffplay";
    const fs::path script = m_systemDirectory.path() / "ffplay-stand-in";
    writeBytes(script, "#!/bin/sh\nexit 0\n");
    fs::permissions(script, fs::perms::owner_all);
    return script;
  }

  void check(const fs::path& programDirectory) {
    const std::string directory = utf8ToGbk(programDirectory.string());
    checkComponents(ComponentCheckContext{&m_window, directory, directory + "/ffm.exe", m_server.url("")});
  }

  std::vector<std::string> shown() {
    std::lock_guard guard(m_lock);
    return m_shown;
  }

  bool wasShown(const std::string& text) { return timesShown(text) > 0; }

  long timesShown(const std::string& text) {
    const auto all = shown();
    return std::count(all.begin(), all.end(), text);
  }

  // The last chunk's report and the finished report read alike; the second
  // one comes once the file is in place.
  bool finishedShown(std::size_t total) {
    const int task = taskWithTotal(total);
    return task > 0 && timesShown(progressText(task, total, total)) >= 2;
  }

  // The task number of the download whose reports carry this total.
  int taskWithTotal(std::size_t total) {
    for (const std::string& text : shown()) {
      const std::size_t colon = text.find(':');
      const std::size_t slash = text.find('/');
      const std::size_t end = text.find('\r');
      if (colon == std::string::npos || slash == std::string::npos || end == std::string::npos) continue;
      if (text.substr(slash + 1, end - slash - 1) == std::to_string(total))
        return std::stoi(text.substr(0, colon));
    }
    return -1;
  }

  std::vector<std::string> requestedTargets() {
    std::vector<std::string> targets;
    for (const auto& request : m_server.requests()) targets.push_back(request.target);
    std::sort(targets.begin(), targets.end());
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    return targets;
  }

  test::RangeServer m_server;
  TempDirectory m_program;
  TempDirectory m_systemDirectory;
  ScopedPath m_path{m_systemDirectory.path().string()};
  std::mutex m_lock;
  std::vector<std::string> m_shown;
  std::vector<std::size_t> m_messagesAtFirstShow;
  MemoryWindow m_window;
};

TEST(ComponentProgress, TextForEveryKind) {
  struct Case {
    const char* name;
    int task, kind, total, done;
    std::string shown;
  } cases[] = {
      {"progress", 1, kReportProgress, 2097152, 1048576, progressText(1, 1048576, 2097152)},
      {"finished", 2, kReportFinished, 500, 500, progressText(2, 500, 500)},
      {"failed", 3, kReportFailed, 0, 0, progressText(3, 0, 0)},
  };
  for (const Case& c : cases) {
    MemoryWindow window;
    window.setText("编辑框_显示"_gbk, "earlier");
    reportComponentProgress(window, c.task, c.kind, c.total, c.done);
    EXPECT_EQ(window.text("编辑框_显示"_gbk), c.shown) << c.name;
  }
  EXPECT_EQ(progressText(1, 1048576, 2097152),
            gbk("1:已完成1048576/2097152\r\n组件缺失，请在下载完成组件后，再开始下载抖音直播"));
}

TEST_F(ComponentCheckTest, WithoutSystemProgramsBothAreDownloadedWithTheirProgress) {
  const std::string recorder = randomBytes(2621440 + 7, 1), player = randomBytes(1048576 + 300000, 2);
  m_server.addFile("/tool/ffmpeg.exe", recorder);
  m_server.addFile("/tool/ffplay.exe", player);
  check(m_program.path());
  // The check only starts the downloads.
  ASSERT_FALSE(shown().empty());
  EXPECT_EQ(shown().front(), downloadNotice());
  EXPECT_EQ(m_window.text("编辑框_下载目录"_gbk), m_program.gbkPath());

  ASSERT_TRUE(waitFor([&] { return finishedShown(recorder.size()) && finishedShown(player.size()); }))
      << m_window.text("编辑框_显示"_gbk);
  const int recorderTask = taskWithTotal(recorder.size()), playerTask = taskWithTotal(player.size());
  EXPECT_EQ(playerTask, recorderTask + 1) << "numbered in the order of the starts";
  // The box ends with one download's last report: the full size of both.
  const std::string last = m_window.text("编辑框_显示"_gbk);
  EXPECT_TRUE(last == progressText(recorderTask, recorder.size(), recorder.size()) ||
              last == progressText(playerTask, player.size(), player.size()))
      << last;
  EXPECT_TRUE(readBytes(m_program.path() / "ffm.exe") == recorder) << "bytes differ";
  EXPECT_TRUE(readBytes(m_program.path() / "ffplay.exe") == player) << "bytes differ";
  EXPECT_TRUE(isExecutable(m_program.path() / "ffm.exe"));
  EXPECT_TRUE(isExecutable(m_program.path() / "ffplay.exe"));
  EXPECT_FALSE(fs::exists(m_program.path() / "ffm.exe.part"));
  EXPECT_EQ(requestedTargets(), (std::vector<std::string>{"/tool/ffmpeg.exe", "/tool/ffplay.exe"}));
  // Every text in between was the notice or a progress text.
  for (const std::string& text : shown()) {
    EXPECT_TRUE(text == downloadNotice() || text.find(":已完成"_gbk) != std::string::npos) << text;
  }
  EXPECT_TRUE(m_window.messages().empty());
}

TEST_F(ComponentCheckTest, SystemProgramsOnThePathAreLinkedAndNothingIsDownloaded) {
  installSystemPrograms(true, true);
  // Relative and empty entries come first and are passed over.
  ScopedPath path("bin::" + m_systemDirectory.path().string());
  check(m_program.path());
  EXPECT_TRUE(fs::is_symlink(m_program.path() / "ffm.exe"));
  EXPECT_EQ(fs::read_symlink(m_program.path() / "ffm.exe"), m_systemDirectory.path() / "ffmpeg");
  EXPECT_TRUE(fs::is_symlink(m_program.path() / "ffplay.exe"));
  EXPECT_EQ(fs::read_symlink(m_program.path() / "ffplay.exe"), m_systemDirectory.path() / "ffplay");
  EXPECT_TRUE(fs::exists(m_program.path() / "ffm.exe")) << "the link leads to a program";
  EXPECT_TRUE(m_server.requests().empty());
  EXPECT_TRUE(shown().empty());
  EXPECT_EQ(m_window.text("编辑框_显示"_gbk), "");
  EXPECT_EQ(m_window.text("编辑框_下载目录"_gbk), m_program.gbkPath());
}

TEST_F(ComponentCheckTest, OnlyWhatIsMissingIsTakenAndADeadLinkIsReplaced) {
  const std::string player = randomBytes(70000, 3);
  m_server.addFile("/tool/ffplay.exe", player);
  installSystemPrograms(true, false);
  fs::create_symlink(m_program.path() / "gone", m_program.path() / "ffm.exe");
  check(m_program.path());
  EXPECT_EQ(fs::read_symlink(m_program.path() / "ffm.exe"), m_systemDirectory.path() / "ffmpeg");
  ASSERT_TRUE(waitFor([&] { return finishedShown(player.size()); }));
  EXPECT_TRUE(readBytes(m_program.path() / "ffplay.exe") == player) << "bytes differ";
  EXPECT_EQ(requestedTargets(), (std::vector<std::string>{"/tool/ffplay.exe"}));

  // Present components, whatever they hold, are left as they are.
  writeBytes(m_program.path() / "ffplay.exe", "anything");
  const std::size_t requestsBefore = m_server.requests().size();
  check(m_program.path());
  EXPECT_EQ(m_server.requests().size(), requestsBefore);
  EXPECT_EQ(readBytes(m_program.path() / "ffplay.exe"), "anything");
}

TEST_F(ComponentCheckTest, ABlankInTheProgramDirectoryIsWarnedAboutOnceBeforeAnyDownload) {
  const std::string recorder = randomBytes(5000, 4), player = randomBytes(6000, 5);
  m_server.addFile("/tool/ffmpeg.exe", recorder);
  m_server.addFile("/tool/ffplay.exe", player);
  const fs::path directory = m_program.path() / "程序 目录";
  fs::create_directories(directory);
  check(directory);
  EXPECT_EQ(m_window.messages(),
            (std::vector<std::string>{gbk("为了软件运行的稳定，建议目录名字内，不要有空格。")}));
  {
    std::lock_guard guard(m_lock);
    ASSERT_FALSE(m_messagesAtFirstShow.empty());
    EXPECT_EQ(m_messagesAtFirstShow.front(), 1u) << "the warning came before the first download notice";
  }
  ASSERT_TRUE(waitFor([&] { return finishedShown(recorder.size()) && finishedShown(player.size()); }));
  EXPECT_TRUE(readBytes(directory / "ffm.exe") == recorder) << "bytes differ";
  EXPECT_EQ(m_window.text("编辑框_下载目录"_gbk), utf8ToGbk(directory.string()));
  EXPECT_EQ(m_window.messages().size(), 1u);
}

TEST_F(ComponentCheckTest, ASavedDownloadLocationStaysAndAnEmptyOneBecomesTheProgramDirectory) {
  installSystemPrograms(true, true);
  struct Case {
    const char* name;
    std::string saved;
    std::string expected;
  } cases[] = {
      {"saved location", gbk("/录像/保存"), gbk("/录像/保存")},
      {"nothing saved", "", m_program.gbkPath()},
  };
  for (const Case& c : cases) {
    MemoryWindow earlier;
    earlier.setText("编辑框_下载目录"_gbk, c.saved);
    earlier.setText("编辑框_url"_gbk, "https://v.douyin.com/saved/");
    std::string path;
    saveSettings(earlier, path, "编辑框_显示"_gbk, m_program.gbkPath());
    MemoryWindow window;
    checkComponents(ComponentCheckContext{&window, m_program.gbkPath(), m_program.gbkPath() + "/ffm.exe",
                                          m_server.url("")});
    EXPECT_EQ(window.text("编辑框_下载目录"_gbk), c.expected) << c.name;
    EXPECT_EQ(window.text("编辑框_url"_gbk), "https://v.douyin.com/saved/") << c.name;
    EXPECT_EQ(window.text("编辑框_显示"_gbk), "") << c.name;
  }
}

TEST_F(ComponentCheckTest, FailedDownloadsShowWhatTheyCanAndLeaveNoComponent) {
  // The recorder's server cuts every block short; the player is not there.
  m_server.addFile("/tool/ffmpeg.exe", randomBytes(2 * 1048576, 6));
  m_server.setFaults(test::ServerFaults{.cutRangesAfterBytes = 100000});
  check(m_program.path());
  ASSERT_TRUE(waitFor([&] {
    for (const std::string& text : shown()) {
      if (text.find(":已完成0/0"_gbk) != std::string::npos) return true;
    }
    return false;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(m_program.path() / "ffm.exe"));
  EXPECT_FALSE(fs::exists(m_program.path() / "ffm.exe.part"));
  EXPECT_FALSE(fs::exists(m_program.path() / "ffplay.exe"));
  // The player's start failed: its notice stayed until the recorder's last report.
  const auto all = shown();
  EXPECT_EQ(std::count(all.begin(), all.end(), downloadNotice()), 2);
  EXPECT_NE(m_window.text("编辑框_显示"_gbk).find(":已完成0/0"_gbk), std::string::npos);
}

TEST(ProgramDirectory, IsTheExecutablesDirectoryWithoutTrailingSeparator) {
  const fs::path executable = fs::canonical("/proc/self/exe");
  EXPECT_EQ(programDirectory(), utf8ToGbk(executable.parent_path().string()));
  EXPECT_NE(programDirectory().back(), '/');
  EXPECT_EQ(pathSeparator(), "/");
}

// --- Recording through the real window, with the real FFmpeg ------------------------------------

// The window with its real recording actions (only the component check is
// left out: nothing is downloaded), a loopback room and a live source.
class RealJobWindowTest : public ::testing::Test {
 protected:
  // The window's setup with the real recording job; the component check, the
  // player and opening a location are left out, messages are recorded.
  MainWindowSetup realJobSetup(const std::string& programDirectory) {
    MainWindowSetup setup;
    setup.programDirectory = programDirectory;
    setup.componentHost = "http://127.0.0.1:9";
    setup.actions.checkComponents = [](const ComponentCheckContext&) {};
    setup.actions.runRecordingJob = [this](const RecordingContext& context) {
      runRecordingJob(context);
      m_jobDone = true;
    };
    setup.actions.startPlayer = [](const std::string&) {};
    setup.actions.openLocation = [](const std::string&) {};
    setup.actions.messageSink = [this](const std::string& text) {
      std::lock_guard guard(m_messagesLock);
      m_messages.push_back(text);
    };
    return setup;
  }
  std::vector<std::string> messages() {
    std::lock_guard guard(m_messagesLock);
    return m_messages;
  }

  std::atomic<bool> m_jobDone{false};
  std::mutex m_messagesLock;
  std::vector<std::string> m_messages;
};

class RecordingThroughTheWindowUdp1111 : public RealJobWindowTest {
 protected:
  void SetUp() override {
    m_sample = testing::makeSample(m_work.path(), 30);
    m_source = std::make_unique<testing::LiveFlvSource>(m_sample);
    ASSERT_TRUE(m_source->listening());
    m_pages.setPage("room", {.body = "<html><head><meta charset=\"utf-8\"></head><body>\"" +
                                     m_source->streamUrl() + "\"</body></html>"});
    testing::addRecorderLink(m_directory.path().string());

    m_window = std::make_unique<MainWindow>(realJobSetup(m_directory.gbkPath()));
    QObject::connect(m_window.get(), &MainWindow::closingFinished, [this] { m_closingFinished = true; });
    m_window->show();
    m_window->controls().setText("编辑框_url"_gbk, m_pages.shareLink("room"));
  }

  void TearDown() override {
    // The job thread talks to the window until it ends; the window must outlive it.
    // A test that failed half way may leave its recorder running.
    if (m_window && m_started && !m_jobDone) {
      terminateProcessByName(kRecorderProcessName);
      pumpUntil([this] { return m_jobDone.load(); }, 30000);
    }
  }

  ControlAccess& controls() { return m_window->controls(); }
  void clickStart() {
    auto* button = m_window->findChild<QPushButton*>(QStringLiteral("按钮_开始"));
    ASSERT_NE(button, nullptr);
    button->click();
    m_started = true;
  }
  std::string outputPath() { return gbkToUtf8(controls().text("编辑框_下载目录"_gbk)); }
  bool mp4HasBytes() {
    struct stat info {};
    const std::string path = outputPath();
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && info.st_size > 0;
  }

  testing::TempDirectory m_work;
  std::string m_sample;
  std::unique_ptr<testing::LiveFlvSource> m_source;
  testing::PageServer m_pages;
  TempDirectory m_directory;
  std::unique_ptr<MainWindow> m_window;
  std::atomic<bool> m_closingFinished{false};
  bool m_started = false;
};

TEST_F(RecordingThroughTheWindowUdp1111, StartRecordStopFindsACompleteFile) {
  testing::UdpRelayListener relay;
  ASSERT_TRUE(relay.bound());
  clickStart();
  EXPECT_EQ(controls().text("按钮_开始"_gbk), "停止下载"_gbk);
  ASSERT_TRUE(pumpUntil([&] { return mp4HasBytes(); }, 60000)) << controls().text("编辑框_显示"_gbk);
  const auto recordingSince = std::chrono::steady_clock::now();
  pumpUntil([] { return false; }, 4000);
  clickStart();  // 停止下载
  const double recordedSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - recordingSince).count();
  EXPECT_EQ(controls().text("按钮_开始"_gbk), "开始下载"_gbk);
  ASSERT_TRUE(pumpUntil([&] { return m_jobDone.load(); }, 60000));

  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(controls().text("标签1"_gbk), "当前直播最高清晰度为：超清"_gbk);
  const std::string display = controls().text("编辑框_显示"_gbk);
  EXPECT_EQ(display.rfind("下载完成，请查看软件运行目录的mp4文件："_gbk, 0), 0u) << display;
  EXPECT_NE(display.find("任务完成\r\n"_gbk), std::string::npos) << display;
  const std::vector<std::string> files = testing::mp4Files(m_directory.path().string());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex("[0-9]{13}\\.mp4"))) << files[0];
  EXPECT_EQ(outputPath(), (m_directory.path() / files[0]).string());
  const testing::MediaSummary media = testing::probeMedia(outputPath(), m_work.path());
  EXPECT_TRUE(media.readable);
  EXPECT_TRUE(media.hasVideo);
  EXPECT_TRUE(media.hasAudio);
  EXPECT_GT(media.durationSeconds, recordedSeconds - 2.5);
  EXPECT_LT(media.durationSeconds, recordedSeconds + 2.5);
  relay.stop();
  EXPECT_GT(relay.transportStreamPackets(), 100u);
  EXPECT_LT(relay.bytesOutOfSync(), relay.bytesReceived() / 100);
}

TEST_F(RecordingThroughTheWindowUdp1111, ClosingWhileRecordingLeavesAPlayableFile) {
  clickStart();
  ASSERT_TRUE(pumpUntil([&] { return mp4HasBytes(); }, 60000)) << controls().text("编辑框_显示"_gbk);
  pumpUntil([] { return false; }, 3000);
  m_window->close();
  ASSERT_TRUE(pumpUntil([&] { return m_closingFinished.load(); }, 30000));
  EXPECT_EQ(findProcessIdByName(kRecorderProcessName), 0u);
  ASSERT_TRUE(pumpUntil([&] { return m_jobDone.load(); }, 30000));
  const testing::MediaSummary media = testing::probeMedia(outputPath(), m_work.path());
  EXPECT_TRUE(media.readable) << "the recorder was stopped, not killed";
  EXPECT_TRUE(media.hasVideo);
  EXPECT_TRUE(media.hasAudio);
  EXPECT_GT(media.durationSeconds, 1.0);
}

// --- Faults -------------------------------------------------------------------------------------

class FaultSettings : public WindowTest {
 protected:
  // A settings file as an earlier run left it.
  std::string writeEarlierFile() {
    const std::string bytes =
        "[编辑框]\r\n编辑框_下载目录=/earlier\r\n编辑框_url=https://v.douyin.com/earlier/\r\n"_gbk;
    writeBytes(settingsFile(), bytes);
    return bytes;
  }
  std::vector<std::string> dataEntries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(settingsFile().parent_path()))
      names.push_back(entry.path().filename().string());
    return names;
  }
};

TEST_F(FaultSettings, ASettingsFileNobodyMayWriteSurvivesSavesAndClosing) {
  struct Case {
    const char* name;
    bool lockTheDirectory;  // else the file itself
  } cases[] = {{"the data directory", true}, {"the file", false}};
  for (const Case& c : cases) {
    create();
    const std::string earlier = writeEarlierFile();
    testing::ImmutablePath locked(c.lockTheDirectory ? settingsFile().parent_path().string()
                                                     : settingsFile().string());
    if (!locked.set()) GTEST_SKIP() << locked.reason();
    controls().setText("编辑框_url"_gbk, "https://v.douyin.com/new/");
    const int before = m_probe.count("message " + "设置保存成功"_gbk);
    click("按钮2");
    // The save itself says nothing; the button's own text follows as always.
    EXPECT_EQ(m_probe.count("message " + "设置保存成功"_gbk), before + 1) << c.name;
    EXPECT_EQ(readBytes(settingsFile()), earlier) << c.name;
    EXPECT_EQ(dataEntries(), std::vector<std::string>{"setsoft.ini"}) << c.name << ": no temporary file left";
    m_window->close();  // saves once more, as closing does
    EXPECT_EQ(readBytes(settingsFile()), earlier) << c.name;
    EXPECT_EQ(dataEntries(), std::vector<std::string>{"setsoft.ini"}) << c.name;
  }
}

TEST_F(FaultSettings, ACorruptSettingsFileChangesNoBoxAndIsReplacedByTheNextSave) {
  // Bytes of no text encoding at all, zero bytes among them, and a line that
  // looks like a key without its section.
  std::string junk = "编辑框_url=nothing\r\n"_gbk;
  for (int i = 0; i < 65536; ++i) junk.push_back(static_cast<char>((i * 7919) % 251));
  writeBytes(settingsFile(), junk);
  const std::string urlBefore = controls().text("编辑框_url"_gbk);
  std::string path;
  EXPECT_EQ(restoreSettings(controls(), path, m_directory.gbkPath()), 3);
  EXPECT_EQ(controls().text("编辑框_url"_gbk), urlBefore);
  EXPECT_EQ(controls().text("编辑框_下载目录"_gbk), "");
  controls().setText("编辑框_url"_gbk, "https://v.douyin.com/after/");
  click("按钮2");
  controls().setText("编辑框_url"_gbk, "other");
  path.clear();
  restoreSettings(controls(), path, m_directory.gbkPath());
  EXPECT_EQ(controls().text("编辑框_url"_gbk), "https://v.douyin.com/after/");
}

// The real recording job behind the real window, against a page server that
// answers slower than the request's time-out.
class FaultWindow : public RealJobWindowTest {
 protected:
  void SetUp() override {
    m_window = std::make_unique<MainWindow>(realJobSetup(m_directory.gbkPath()));
    m_window->show();
  }
  void TearDown() override {
    pumpUntil([this] { return m_jobDone.load(); }, 120000);
  }

  void click(const char* utf8Name) {
    auto* button = m_window->findChild<QPushButton*>(QString::fromUtf8(utf8Name));
    ASSERT_NE(button, nullptr);
    button->click();
  }

  TempDirectory m_directory;
  std::unique_ptr<MainWindow> m_window;
};

TEST_F(FaultWindow, StaysResponsiveWhileAPageOutlastsTheTimeOut) {
  testing::LoopbackHttpServer slow([](const testing::ReceivedRequest&) {
    return testing::Reply{.bytes = testing::httpResponse("200 OK", "http://pull-a/s_hd.flv"),
                          .trickleBytes = 1,
                          .trickleMs = 120000};
  });
  ControlAccess& controls = m_window->controls();
  controls.setText("编辑框_url"_gbk, slow.url("/s/room?from=douyin.com"));

  // A timer on the window's thread: while the job waits for the page, its
  // ticks keep coming, and a button pressed meanwhile is answered.
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> ticks;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ticks.push_back(Clock::now()); });
  timer.start(50);
  QTimer::singleShot(3000, m_window.get(), [this] { click("按钮2"); });

  const auto started = Clock::now();
  click("按钮_开始");
  EXPECT_EQ(controls.text("按钮_开始"_gbk), "停止下载"_gbk);
  bool savedWhileWaiting = false;
  ASSERT_TRUE(pumpUntil(
      [&] {
        if (!m_jobDone && messages() == std::vector<std::string>{"设置保存成功"_gbk})
          savedWhileWaiting = true;
        return m_jobDone.load();
      },
      120000));
  const auto waited = Clock::now() - started;
  pumpUntil([] { return false; }, 100);
  timer.stop();

  EXPECT_TRUE(savedWhileWaiting) << "the save button was answered while the job waited";
  EXPECT_EQ(messages(), (std::vector<std::string>{"设置保存成功"_gbk, "推流地址获取失败"_gbk}));
  EXPECT_GE(waited, std::chrono::seconds(29)) << "the job gave up before the time-out";
  ASSERT_GT(ticks.size(), 2u);
  Clock::duration longestGap{};
  for (std::size_t i = 1; i < ticks.size(); ++i) longestGap = std::max(longestGap, ticks[i] - ticks[i - 1]);
  EXPECT_LT(longestGap, std::chrono::seconds(3)) << "the window's thread stood still";
  EXPECT_GT(ticks.size(), 100u);
  EXPECT_EQ(controls.text("按钮_开始"_gbk), "停止下载"_gbk) << "the caption follows the presses, not the job";
  EXPECT_EQ(controls.text("编辑框_下载目录"_gbk), "");
  EXPECT_TRUE(testing::mp4Files(m_directory.path().string()).empty());
}

}  // namespace
}  // namespace lirevo
int main(int argc, char** argv) {
  // The real window, with no display needed and none disturbed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(lirevo::collectQtMessages);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
