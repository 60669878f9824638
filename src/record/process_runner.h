// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lirevo {

using OutputCallback = std::function<void(const std::string&)>;

// Runs one console program until it has exited and its output is drained,
// on the calling thread. Its standard output and error share one pipe; every
// read of at most 1023 bytes becomes one chunk (line ends rewritten, see
// rewriteLineEnds), which is handed to `outputCallback` translated by
// translateStatus and appended untranslated, with "\r\n", to `outputLog`.
// The child runs in the directory of `executablePath`, without standard
// input, in a process group of its own, so an interrupt meant for it reaches
// it alone. `argumentText` is split like a Windows command line
// (splitCommandLine); the child's argv[0] is `executablePath`.
// A missing program is reported as `executablePath` + " 不存在" through both
// outputs and nothing is started. `processId` (0 when no child was created)
// is written before the output is read, and `onStarted`, when given, is
// called with it at the same moment, so another thread can reach the child.
// `exitStatus` receives the exit code, or 128 + the signal that ended the
// child, or -1 when no child ran. Paths and arguments are GBK.
void runProcess(const std::string& executablePath, const std::string& argumentText = {},
                const OutputCallback& outputCallback = {}, std::uint32_t* processId = nullptr,
                std::string* outputLog = nullptr, int* exitStatus = nullptr,
                const std::function<void(std::uint32_t)>& onStarted = {});

}  // namespace lirevo
