// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control_access.h"

class QObject;
class QWidget;

namespace lirevo {

// ControlAccess over the Qt main window. Controls are the window's children
// whose objectName is the design name. Every call made off the window's
// thread is carried out on it while the caller waits, like a sent window
// message; on the window's thread it runs directly. So a worker may call in
// only while the window's event loop runs (or will run).
class QtControlAccess : public ControlAccess {
 public:
  // Receives showMessage's text on the window's thread instead of a message
  // box; tests use it so that nothing waits for a user.
  using MessageSink = std::function<void(const std::string&)>;

  QtControlAccess(QWidget& window, MessageSink messageSink);
  ~QtControlAccess() override;

  std::string text(std::string_view name) override;
  void setText(std::string_view name, std::string_view text) override;
  void appendText(std::string_view name, std::string_view text) override;
  void setEnabled(std::string_view name, bool enabled) override;
  bool isEnabled(std::string_view name) override;
  std::vector<std::string> editBoxNames() override;
  void showMessage(std::string_view text) override;

 private:
  template <class Routine>
  auto onWindowThread(Routine&& routine);
  // Runs `work` on the window's thread and waits until it has run, or until
  // the call was dropped because the window went away.
  void runOnWindowThread(std::function<void()> work);
  QWidget* control(std::string_view name) const;

  QWidget& m_window;
  const MessageSink m_messageSink;
  const std::vector<std::string> m_editBoxNames;
  std::unique_ptr<QObject> m_callReceiver;  // lives on the window's thread
};

}  // namespace lirevo
