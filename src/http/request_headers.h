// SPDX-License-Identifier: MIT
#pragma once

// The request side of a page request that does not depend on the transport:
// the time-out, the verb and the header block, from the caller's parameters.

#include <string>
#include <string_view>
#include <vector>

#include "http_fetch.h"

namespace lirevo {

// The limit for connecting and for each wait for data: `timeoutSeconds`
// seconds, or 30 s when it is 0 or less.
long fetchTimeoutMs(int timeoutSeconds);

// "GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT" for
// 0 to 7; any other number gives "GET".
std::string_view requestVerb(int method);

// The header block the request sends: the caller's lines, the default lines
// they lack, names normalised, a lone keep-alive line dropped and the cookie
// line added. The default lines are tested by plain substring search without
// regard to case, so a test text inside another header's value suppresses
// its line, and "User-Agent:" without the blank does not.
std::string buildRequestHeaderBlock(const HttpFetchParams& params);

// The headers a transport sends for a block: every piece between "\r\n"
// separators, empty pieces left out.
std::vector<std::string> requestHeaderLines(std::string_view block);

}  // namespace lirevo
