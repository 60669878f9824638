// SPDX-License-Identifier: MIT
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "charset.h"
#include "recording_name.h"

namespace lirevo {

std::string reserveOutputName(const std::string& programDirectory,
                              std::chrono::system_clock::time_point startTime) {
  // A second's worth of attempts; a directory that refuses new files leaves
  // the recorder to report the failure.
  constexpr int kAttempts = 1000;
  const std::string directory = gbkToUtf8(programDirectory);
  std::string name = makeTimestampName(startTime);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = makeTimestampName(startTime + std::chrono::milliseconds(attempt));
    const std::string path = directory + "/" + name + ".mp4";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) return name;
  }
  return name;
}

void releaseUnusedOutput(const std::string& outputPath) {
  const std::string path = gbkToUtf8(outputPath);
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) ::unlink(path.c_str());
}

}  // namespace lirevo
