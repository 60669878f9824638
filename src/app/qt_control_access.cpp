// SPDX-License-Identifier: MIT
#include "qt_control_access.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QThread>
#include <QWidget>
#include <type_traits>
#include <utility>

#include "gbk_literal.h"
#include "qt_text.h"
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

}  // namespace

QtControlAccess::QtControlAccess(QWidget& window, MessageSink messageSink)
    : m_window(window), m_messageSink(std::move(messageSink)), m_editBoxNames(designEditBoxNames()) {}

template <class Routine>
auto QtControlAccess::onWindowThread(Routine&& routine) {
  using Result = std::invoke_result_t<Routine&>;
  if (QThread::currentThread() == m_window.thread()) return routine();
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(&m_window, routine, Qt::BlockingQueuedConnection);
  } else {
    Result result{};
    QMetaObject::invokeMethod(
        &m_window, [&] { result = routine(); }, Qt::BlockingQueuedConnection);
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
