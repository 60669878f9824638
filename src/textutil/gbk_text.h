// SPDX-License-Identifier: MIT
#pragma once

// Text inside the program is GBK (code page 936) bytes in std::string. Lengths
// and positions count bytes; positions handed in and out count from 1. Every
// search steps over a double-byte character as one unit, so a match never
// begins on its trail byte (which may be 0x5C or an ASCII letter).

#include <string>
#include <string_view>
#include <vector>

namespace lirevo {

// True when the byte starts a double-byte GBK character.
constexpr bool isGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// Byte length (1 or 2) of the character that starts at `offset`.
std::size_t gbkCharLength(std::string_view text, std::size_t offset);

// Position (from 1) of the first occurrence of `what` at or after
// `startPosition`, or -1. `startPosition` must lie on a character boundary
// (any position this search returned, or one behind ASCII text, does).
// `ignoreCase` folds ASCII letters only. An empty `what` is never found.
int findText(std::string_view text, std::string_view what, int startPosition = 1,
             bool ignoreCase = false);

bool containsText(std::string_view text, std::string_view what, bool ignoreCase = false);

// Every occurrence replaced, left to right; replaced text is not searched again.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

// Removes ASCII blanks and full-width blanks (A1 A1) at both ends; tabs and
// line ends stay.
std::string trimBlanks(std::string_view text);

// Pieces between separators; empty pieces between adjacent separators are
// kept, a separator that ends the text yields no empty piece after it, an
// empty text yields none.
std::vector<std::string> splitText(std::string_view text, std::string_view separator);

// Removes every ASCII blank and full-width blank wherever it stands.
std::string removeBlanks(std::string_view text);

bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);

// The text up to its first zero byte.
std::string_view untilZeroByte(std::string_view text);

}  // namespace lirevo
