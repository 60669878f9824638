// SPDX-License-Identifier: MIT
#include "memory_window.h"

#include "charset.h"
#include "window_design.h"

namespace lirevo {

MemoryWindow::MemoryWindow() {
  for (const ControlDesign& design : kMainWindowControls) {
    const std::string name = utf8ToGbk(design.name);
    m_controls[name] = Control{utf8ToGbk(design.initialText), design.enabled, isEditBox(design.kind)};
    if (isEditBox(design.kind)) m_editBoxOrder.push_back(name);
  }
}

std::string MemoryWindow::text(std::string_view name) {
  std::lock_guard lock(m_mutex);
  const auto it = m_controls.find(name);
  return it == m_controls.end() ? std::string() : it->second.text;
}

void MemoryWindow::setText(std::string_view name, std::string_view text) {
  std::string changed;
  {
    std::lock_guard lock(m_mutex);
    const auto it = m_controls.find(name);
    if (it == m_controls.end()) return;
    it->second.text = text;
    changed = it->second.text;
  }
  notify(std::string(name), changed);
}

void MemoryWindow::appendText(std::string_view name, std::string_view text) {
  std::string changed;
  {
    std::lock_guard lock(m_mutex);
    const auto it = m_controls.find(name);
    if (it == m_controls.end() || !it->second.editBox) return;
    it->second.text.append(text);
    changed = it->second.text;
  }
  notify(std::string(name), changed);
}

void MemoryWindow::setEnabled(std::string_view name, bool enabled) {
  std::lock_guard lock(m_mutex);
  const auto it = m_controls.find(name);
  if (it != m_controls.end()) it->second.enabled = enabled;
}

bool MemoryWindow::isEnabled(std::string_view name) {
  std::lock_guard lock(m_mutex);
  const auto it = m_controls.find(name);
  return it != m_controls.end() && it->second.enabled;
}

std::vector<std::string> MemoryWindow::editBoxNames() {
  std::lock_guard lock(m_mutex);
  return m_editBoxOrder;
}

void MemoryWindow::showMessage(std::string_view text) {
  std::lock_guard lock(m_mutex);
  m_messages.emplace_back(text);
}

std::vector<std::string> MemoryWindow::messages() {
  std::lock_guard lock(m_mutex);
  return m_messages;
}

void MemoryWindow::onTextChanged(std::function<void(const std::string&, const std::string&)> observer) {
  std::lock_guard lock(m_mutex);
  m_observer = std::move(observer);
}

void MemoryWindow::notify(const std::string& name, const std::string& text) {
  std::function<void(const std::string&, const std::string&)> observer;
  {
    std::lock_guard lock(m_mutex);
    observer = m_observer;
  }
  if (observer) observer(name, text);
}

}  // namespace lirevo
