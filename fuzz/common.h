// What the fuzz targets share: a private scratch directory and quiet
// standard output (the routines under test print their verdicts there).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A new directory for this process's files; aborts when none can be made.
inline std::string ScratchDirectory() {
  char pattern[] = "/tmp/tvdbmgr-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) abort();
  return pattern;
}

// Replaces the file's content with the input; aborts on failure.
inline void WriteInput(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr || (size > 0 && fwrite(data, 1, size, f) != size) || fclose(f) != 0) abort();
}

inline void SilenceStdout() {
  fflush(stdout);
  int null = open("/dev/null", O_WRONLY);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) abort();
  close(null);
}

}  // namespace fuzz
