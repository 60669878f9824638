// SPDX-License-Identifier: MIT
#include "qt_control_access.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QThread>
#include <QWidget>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

#include "gbk_literal.h"
#include "qt_text.h"
#include "thread_handover.h"
#include "window_design.h"

namespace lirevo {
namespace {

std::vector<std::string> designEditBoxNames() {
  std::vector<std::string> names;
  for (const ControlDesign& design : kMainWindowControls) {
    if (isEditBox(design.kind)) names.push_back(utf8ToGbk(design.name));
  }
  return names;
}

// A multi-line box keeps its line ends as paragraph breaks; its text reads
// with "\r\n" between lines, as an edit control's does, so byte counts match.
QString multiLineText(const QPlainTextEdit& edit) {
  QString text = edit.toPlainText();
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return text;
}

// A call from another thread, waiting for the window's thread. The caller
// waits on a lock and condition of its own instead of Qt's blocking queued
// connection: same effect, but an ordering the thread checker can see.
class PendingCall {
 public:
  void finish() {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_done = true;
    m_finished.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> guard(m_lock);
    m_finished.wait(guard, [this] { return m_done; });
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_finished;
  bool m_done = false;
};

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Stands for the caller's side of every hand-over to the window's thread
// (Qt's event queue is as invisible to the thread checker as its semaphore).
char g_callQueue;

class CallEvent : public QEvent {
 public:
  CallEvent(std::function<void()> work, std::shared_ptr<PendingCall> call)
      : QEvent(kCallEvent), m_work(std::move(work)), m_call(std::move(call)) {}
  // Also when the event is dropped unrun (its receiver went away), so that
  // the caller never waits for nothing.
  ~CallEvent() override { m_call->finish(); }
  CallEvent(const CallEvent&) = delete;
  CallEvent& operator=(const CallEvent&) = delete;
  void run() { m_work(); }

 private:
  std::function<void()> m_work;
  std::shared_ptr<PendingCall> m_call;
};

class CallReceiver : public QObject {
 public:
  bool event(QEvent* event) override {
    receiveHandOver(&g_callQueue);
    if (event->type() != kCallEvent) return QObject::event(event);
    static_cast<CallEvent*>(event)->run();
    return true;
  }
};

}  // namespace

QtControlAccess::QtControlAccess(QWidget& window, MessageSink messageSink)
    : m_window(window),
      m_messageSink(std::move(messageSink)),
      m_editBoxNames(designEditBoxNames()),
      m_callReceiver(std::make_unique<CallReceiver>()) {
  m_callReceiver->moveToThread(m_window.thread());
}

QtControlAccess::~QtControlAccess() = default;

void QtControlAccess::runOnWindowThread(std::function<void()> work) {
  auto call = std::make_shared<PendingCall>();
  auto event = std::make_unique<CallEvent>(std::move(work), call);
  sendHandOver(&g_callQueue);
  QCoreApplication::postEvent(m_callReceiver.get(), event.release());  // Qt deletes posted events
  call->wait();
}

template <class Routine>
auto QtControlAccess::onWindowThread(Routine&& routine) {
  using Result = std::invoke_result_t<Routine&>;
  if (QThread::currentThread() == m_window.thread()) return routine();
  if constexpr (std::is_void_v<Result>) {
    runOnWindowThread([&] { routine(); });
  } else {
    Result result{};
    runOnWindowThread([&] { result = routine(); });
    return result;
  }
}

QWidget* QtControlAccess::control(std::string_view name) const {
  return m_window.findChild<QWidget*>(toQString(name), Qt::FindDirectChildrenOnly);
}

std::string QtControlAccess::text(std::string_view name) {
  return onWindowThread([&]() -> std::string {
    QWidget* widget = control(name);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) return fromQString(multiLineText(*edit));
    if (auto* line = qobject_cast<QLineEdit*>(widget)) return fromQString(line->text());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return fromQString(button->text());
    if (auto* label = qobject_cast<QLabel*>(widget)) return fromQString(label->text());
    if (auto* bar = qobject_cast<QStatusBar*>(widget)) return fromQString(bar->currentMessage());
    return {};
  });
}

void QtControlAccess::setText(std::string_view name, std::string_view text) {
  onWindowThread([&] {
    QWidget* widget = control(name);
    const QString value = toQString(text);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
      edit->setPlainText(value);
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
      line->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      label->setText(value);
    } else if (auto* bar = qobject_cast<QStatusBar*>(widget)) {
      bar->showMessage(value);
    }
  });
}

void QtControlAccess::appendText(std::string_view name, std::string_view text) {
  onWindowThread([&] {
    QWidget* widget = control(name);
    const QString value = toQString(text);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
      // Whatever the user selected, the text goes to the very end.
      QTextCursor cursor = edit->textCursor();
      cursor.movePosition(QTextCursor::End);
      edit->setTextCursor(cursor);
      edit->insertPlainText(value);
      edit->ensureCursorVisible();
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
      line->setText(line->text() + value);
      line->setCursorPosition(static_cast<int>(line->text().size()));
    }
  });
}

void QtControlAccess::setEnabled(std::string_view name, bool enabled) {
  onWindowThread([&] {
    if (QWidget* widget = control(name)) widget->setEnabled(enabled);
  });
}

bool QtControlAccess::isEnabled(std::string_view name) {
  return onWindowThread([&] {
    const QWidget* widget = control(name);
    return widget != nullptr && widget->isEnabled();
  });
}

std::vector<std::string> QtControlAccess::editBoxNames() { return m_editBoxNames; }

void QtControlAccess::showMessage(std::string_view text) {
  onWindowThread([&] {
    if (m_messageSink) {
      m_messageSink(std::string(text));
      return;
    }
    QMessageBox box(QMessageBox::NoIcon, toQString("信息："_gbk), toQString(text), QMessageBox::Ok,
                    &m_window);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
  });
}

}  // namespace lirevo
