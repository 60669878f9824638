// SPDX-License-Identifier: MIT
#pragma once

// The program's one page-request routine. Callers name only what they set:
//   httpFetch({.url = link, .extraHeaders = "user-agent: ...", .responseBody = &body});
// Outputs are pointers: null means the caller did not ask for it. Texts are GBK.
// Every field has an initializer, so that leaving fields out of a designated
// initializer draws no -Wmissing-field-initializers warning.

#include <cstddef>
#include <string>

#include "byte_data.h"

namespace lirevo {

// The body is held in memory; a server that sends more ends the read there
// as a read failure, with the bytes up to the limit kept. No page the program
// asks for comes near it.
inline constexpr std::size_t kMaxResponseBodyBytes = std::size_t{64} << 20;

struct HttpFetchParams {
  std::string url{};       // http:// or https://
  int method = 0;          // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT; else GET
  std::string postText{};  // body when postBytes is empty
  std::string* sendCookies = nullptr;      // in and out: "a=1; b=2", replaced by the merged set
  std::string* returnedCookies = nullptr;  // out, appended to
  std::string extraHeaders{};              // lines joined by "\r\n", no final line end
  std::string* returnedHeaders = nullptr;  // out: raw header text of the final response
  bool disableRedirects = false;
  std::string userName{};
  std::string password{};
  std::string proxyAddress{};  // host:port; empty: direct, environment ignored
  std::string proxyUserName{};
  std::string proxyPassword{};
  int timeoutSeconds = 0;                   // 0 or less: 30 s
  std::string* redirectLocation = nullptr;  // out, only when the response has a Location line
  std::string* statusText = nullptr;        // out: "200 OK" or a numbered failure message
  ByteData* responseBody = nullptr;         // out: the body exactly as received
  bool autoMergeCookies = true;
  bool addDefaultHeaders = true;
  ByteData postBytes{};  // body as bytes; wins over postText
  bool normalizeHeaders = true;
};

// Runs one request synchronously on the calling thread and returns the body
// up to its first zero byte, converted to GBK when the page declares a
// charset; empty on failure.
std::string httpFetch(const HttpFetchParams& params);

}  // namespace lirevo
