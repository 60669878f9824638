// SPDX-License-Identifier: MIT
#pragma once

// Text operations with which the request routine shapes its header block and
// reads the response headers. All take and give GBK text, keep no state and
// cannot fail: a missing piece of input gives empty text.
//
// A request header block is lines joined by "\r\n", each "Name: value"; a
// cookie text is items "name=value" joined by "; ". Several lookups below
// depend on the blank after the colon.

#include <string>
#include <string_view>

#include "byte_data.h"

namespace lirevo {

// Drops lines without a colon (empty lines too) and writes the first letter
// of the name and every letter after a "-" in upper case ("x-requested-with"
// -> "X-Requested-With", "USER-AGENT" stays). Values, order and duplicates are
// kept; the result has no final line end.
std::string normalizeHeaderNames(std::string_view headerBlock);

// Value of the first line that begins with `name` (case-sensitive, no colon
// required, so "Connection-Foo: x" is taken for "Connection" when it comes
// first): the text after the last "name: " in that line, or empty text.
std::string findHeaderValue(std::string_view headerBlock, std::string_view name);

// Walks the raw response header text. Every "Set-Cookie: " line (that exact
// case, blank required) appends its first item, attributes dropped, to
// `returnedCookies` joined by "; "; items marked "=deleted" stay, a cookie
// set twice is listed twice. A "Location: " line (any case, blank required)
// writes the rest of the line to `redirectLocation` when it is given; a later
// one wins.
void scanResponseHeaders(std::string_view responseHeaderText, std::string& returnedCookies,
                         std::string* redirectLocation);

// Received cookies replace sent cookies of the same name and come first; of
// two sent items with one name only the first counts; items ending in
// "=deleted" are dropped and exact repeats removed. The result is also left
// in `sendCookies`.
std::string mergeCookieText(std::string& sendCookies, std::string_view received);

// UTF-16LE bytes up to the first zero unit, as GBK; characters GBK lacks
// become "?".
std::string wideToGbk(const ByteData& utf16Bytes);

// The text before the first `marker`, or empty text when it does not occur.
std::string textBefore(std::string_view text, std::string_view marker);

// The text after the last `marker`, or empty text when it does not occur.
std::string textAfterLast(std::string_view text, std::string_view marker);

// The text between the first `startMarker` and the first `endMarker` behind
// it, or empty text when either is missing. "#引号" in a marker stands for a
// double quote.
std::string textBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker);

// The first byte in upper case when it is an ASCII lower-case letter.
std::string capitalizeFirst(std::string_view text);

// The trimmed text before the first "=", or the whole trimmed item.
std::string cookieName(std::string_view cookieItem);

// Leaves out every item that exactly repeats an earlier one, order kept.
std::string removeDuplicateItems(std::string_view list, std::string_view separator);

}  // namespace lirevo
