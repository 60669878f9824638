// SPDX-License-Identifier: MIT
#pragma once

// The response side of a page request that does not depend on the transport.

#include <string>

#include "byte_data.h"
#include "http_fetch.h"

namespace lirevo {

// Hands a received response to the caller's outputs and returns the result
// text. With `rawHeaders` empty (the headers could not be read) nothing is
// written and the result is empty. Otherwise `returnedHeaders` and
// `statusText` are written (replacing a read failure's message), cookies and
// the redirect target are taken from the headers, the cookies are merged
// when asked, `responseBody` gets the bytes as received and the result is the
// body up to its first zero byte, converted from the charset the page
// declares.
std::string deliverResponse(const HttpFetchParams& params, const std::string& rawHeaders, ByteData body);

}  // namespace lirevo
