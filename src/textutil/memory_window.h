// SPDX-License-Identifier: MIT
#pragma once

// An in-memory stand-in for the main window: the same controls, texts and
// states, no pixels. Used by the engines' tests and by the terminal
// companion. Thread-safe.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "control_access.h"

namespace lirevo {

class MemoryWindow : public ControlAccess {
 public:
  // Starts with the main window's design: every control, initial text and state.
  MemoryWindow();

  std::string text(std::string_view name) override;
  void setText(std::string_view name, std::string_view text) override;
  void appendText(std::string_view name, std::string_view text) override;
  void setEnabled(std::string_view name, bool enabled) override;
  bool isEnabled(std::string_view name) override;
  std::vector<std::string> editBoxNames() override;
  void showMessage(std::string_view text) override;

  // Messages shown so far, oldest first.
  std::vector<std::string> messages();
  // Called (outside the window's lock) after every change of a control's
  // text, with the name and the new text; the terminal companion prints with it.
  void onTextChanged(std::function<void(const std::string&, const std::string&)> observer);

 private:
  struct Control {
    std::string text;
    bool enabled = true;
    bool editBox = false;
  };
  void notify(const std::string& name, const std::string& text);

  std::mutex m_mutex;
  std::map<std::string, Control, std::less<>> m_controls;
  std::vector<std::string> m_editBoxOrder;
  std::vector<std::string> m_messages;
  std::function<void(const std::string&, const std::string&)> m_observer;
};

}  // namespace lirevo
