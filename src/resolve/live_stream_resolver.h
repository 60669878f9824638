// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "control_access.h"

namespace lirevo {

// Every text that runs from `startMarker` to the next `endMarker`, both
// included, in the text's order. The search for the next candidate goes on
// right behind the start marker, so a second start marker before the first
// end marker opens a further candidate and also stands inside the first.
std::vector<std::string> collectBetweenMarkers(std::string_view text, std::string_view startMarker,
                                               std::string_view endMarker);

// A stream address is a few hundred bytes; a longer one is no address a
// live service hands out, and one of page size would not even fit on the
// recorder's command line.
inline constexpr std::size_t kMaxStreamAddressBytes = 4096;

// True when the candidate can stand between double quotes on the recorder's
// command line as one argument: at most kMaxStreamAddressBytes, and no
// double quote, blank or control character.
bool isSafeStreamAddress(std::string_view candidate);

// The first candidate from "http://pull" to ".flv" in the page that is a
// safe stream address, or empty text: the same as the first safe one of
// collectBetweenMarkers, but in time and memory linear in the page, whatever
// it holds (a page of nothing but start markers before one end marker has
// as many nested candidates as markers).
std::string selectStreamAddress(std::string_view page);

// Turns the share link of a live room into the address of its first FLV
// stream with one page request, and writes the stream's quality into the
// label "标签1". `streamUrl` is written only when an address was found;
// `resultMessage` always, with one of "直播分享链接有误", "直播已结束",
// "推流地址获取失败" or "获取成功". True exactly when `streamUrl` is not
// empty. Runs on the calling thread for the whole request.
bool resolveLiveStream(ControlAccess& window, const std::string& shareLink, std::string& streamUrl,
                       std::string& resultMessage);

}  // namespace lirevo
