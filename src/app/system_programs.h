// SPDX-License-Identifier: MIT
#pragma once

// What the component check asks of the file system: whether a component is
// there, and how to put one in the program directory. Paths are GBK.

#include <string>
#include <string_view>

namespace lirevo {

// True when a file (or a link to one) exists at the path; size, kind and
// content are not looked at. A link that leads nowhere is no file.
bool fileExists(const std::string& path);

// Looks for an executable file named `programName` in the directories of the
// PATH that the environment holds at this moment and makes `linkPath` a
// symbolic link to the first one found. Relative and empty PATH entries are
// passed over: they would name whatever directory the program happened to be
// started from. A link at `linkPath` that leads nowhere is replaced; anything
// else there is left alone and the call fails. False when no such program
// was found or the link could not be made.
bool linkSystemProgram(const std::string& linkPath, std::string_view programName);

// Lets the file be run, as a downloaded program must be.
bool markExecutable(const std::string& path);

}  // namespace lirevo
