// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lirevo {

// Splits a command line into arguments the way a Windows program's start-up
// code does, so command lines built for the recorder work unchanged: blanks
// and tabs separate; double quotes group and are removed; inside quotes a
// doubled quote is a literal quote; 2n backslashes before a quote give n
// backslashes and the quote acts, 2n+1 give n backslashes and a literal
// quote; other backslashes are literal. The text holds arguments only (the
// program's own name is not part of it), so the first word gets no special
// treatment.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

}  // namespace lirevo
