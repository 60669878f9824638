// SPDX-License-Identifier: MIT
#pragma once

// The ways a page request can fail, numbered as the user sees them in the
// status text. The numbers are not contiguous and follow the order in which
// the request is set up, not their value.

#include <string>

namespace lirevo {

enum class FetchFailure {
  TransportMissing = 700,
  BadUrl = 701,
  Session = 702,
  Connection = 703,
  Request = 704,
  Timeouts = 705,
  Credentials = 707,  // server and proxy credentials alike
  Cookies = 708,
  Redirects = 709,
  Headers = 710,
  Send = 711,
  NoResponse = 712,
  Read = 713,
  Certificate = 0,  // the only one without a number
};

// The status text for a failure, such as "712 服务器未响应!".
const std::string& fetchFailureMessage(FetchFailure failure);

}  // namespace lirevo
