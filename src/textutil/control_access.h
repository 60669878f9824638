// SPDX-License-Identifier: MIT
#pragma once

// The window contract every engine goes through: controls are addressed by
// their design names (GBK, such as "编辑框_显示"), texts are GBK. The Qt
// window carries each call out on its own thread and the caller waits, like a
// sent window message; MemoryWindow keeps the controls in memory for tests
// and the terminal. All operations may be called from any thread.

#include <string>
#include <string_view>
#include <vector>

namespace lirevo {

class ControlAccess {
 public:
  virtual ~ControlAccess() = default;

  // Empty text for a name that is no control.
  virtual std::string text(std::string_view name) = 0;
  // Replaces an edit box's or label's text, or a button's caption.
  virtual void setText(std::string_view name, std::string_view text) = 0;
  // Caret to the end, end scrolled into view, text inserted there, whatever
  // the user had selected.
  virtual void appendText(std::string_view name, std::string_view text) = 0;
  virtual void setEnabled(std::string_view name, bool enabled) = 0;
  virtual bool isEnabled(std::string_view name) = 0;
  // The design names of the edit boxes, in the window design's order.
  virtual std::vector<std::string> editBoxNames() = 0;
  // Modal message box with the caption "信息："; returns when it is closed.
  virtual void showMessage(std::string_view text) = 0;
};

}  // namespace lirevo
