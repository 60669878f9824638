// SPDX-License-Identifier: MIT
#pragma once

// The window's edge: the program's GBK text to and from Qt's strings.

#include <QString>
#include <string>
#include <string_view>

#include "charset.h"

namespace lirevo {

inline QString toQString(std::string_view gbk) { return QString::fromUtf8(gbkToUtf8(gbk)); }

inline std::string fromQString(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return utf8ToGbk(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace lirevo
