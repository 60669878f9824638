// SPDX-License-Identifier: MIT
#include "display_log.h"

#include <string>

#include "gbk_literal.h"

namespace lirevo {

std::mutex& displayLock() {
  static std::mutex lock;
  return lock;
}

void appendToDisplay(ControlAccess& window, std::string_view text) {
  const std::string& display = "编辑框_显示"_gbk;
  std::lock_guard guard(displayLock());
  if (window.text(display).size() > kDisplayLimitBytes) window.setText(display, {});
  std::string line(text);
  line.append("\r\n");
  window.appendText(display, line);
}

}  // namespace lirevo
