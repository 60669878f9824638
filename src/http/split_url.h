// SPDX-License-Identifier: MIT
#pragma once

// The pieces of an absolute http:// or https:// address that the request
// routine works with. Texts are GBK and kept as written: nothing is decoded or
// escaped here.

#include <optional>
#include <string>
#include <string_view>

namespace lirevo {

struct UrlParts {
  std::string scheme;  // "http" or "https", lower case
  std::string host;    // without user information; an IPv6 address keeps its brackets
  int port = 0;        // as written, else the scheme's default
  bool portWritten = false;
  std::string path;       // from the "/" behind the host up to the first "?" or "#"; may be empty
  std::string extraInfo;  // from the first "?" or "#" on; may be empty

  bool secure() const { return scheme == "https"; }

  // What the request asks the server for: the path and the extra information,
  // or "/" alone when the address has no path, so that "http://host?q" asks
  // for "/" without the query.
  std::string objectName() const;
};

// Nothing when the address has no "scheme://", a scheme other than http or
// https (any case), no host, or a port that is not a number from 1 to 65535.
// User information before an "@" is dropped: credentials travel only as
// parameters of the request.
std::optional<UrlParts> splitUrl(std::string_view url);

}  // namespace lirevo
