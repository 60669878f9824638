// SPDX-License-Identifier: MIT
#pragma once

// Conversions between the program's GBK text and the encodings met at its
// edges. None of them fails hard: a character the target cannot represent
// becomes "?", invalid input bytes become "?" and conversion goes on.

#include <optional>
#include <string>
#include <string_view>

namespace lirevo {

std::u16string gbkToUtf16(std::string_view gbk);
std::string utf16ToGbk(std::u16string_view utf16);
std::string utf8ToGbk(std::string_view utf8);
// How many bytes at the end of `utf8` begin a sequence that the end cuts
// short (which utf8ToGbk gives as one "?"): a reader that gets a text piece
// by piece holds them back for the next piece, so that converting piece by
// piece gives what converting the whole text gives.
std::size_t incompleteUtf8Tail(std::string_view utf8);
std::string gbkToUtf8(std::string_view gbk);

// Converts bytes in a charset a web page may declare ("utf-8", "big5",
// "iso-8859-1", ...; the name is matched without regard to case) to GBK.
// Gives nothing when the name is unknown.
std::optional<std::string> charsetToGbk(std::string_view charsetName, std::string_view bytes);

}  // namespace lirevo
