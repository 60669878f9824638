// SPDX-License-Identifier: MIT
#include "fetch_result.h"

#include "gbk_text.h"
#include "header_cookie.h"
#include "response_decoding.h"
#include "response_headers.h"

namespace lirevo {

std::string deliverResponse(const HttpFetchParams& params, const std::string& rawHeaders, ByteData body) {
  if (rawHeaders.empty()) return {};
  if (params.returnedHeaders) *params.returnedHeaders = rawHeaders;
  if (params.statusText) *params.statusText = statusFromHeaders(rawHeaders);

  // The merge needs the response's cookies even when the caller did not ask
  // for them.
  std::string ownCookies;
  std::string& returnedCookies = params.returnedCookies ? *params.returnedCookies : ownCookies;
  scanResponseHeaders(rawHeaders, returnedCookies, params.redirectLocation);
  if (params.autoMergeCookies && params.sendCookies && !params.sendCookies->empty())
    returnedCookies = mergeCookieText(*params.sendCookies, returnedCookies);

  std::string result = decodeResponseText(untilZeroByte(body), body);
  if (params.responseBody) *params.responseBody = std::move(body);
  return result;
}

}  // namespace lirevo
