// A shell command timed by the wall clock, for the benchmarks that set
// the tool beside an engine's own client.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

// The seconds command took. A command that fails ends the benchmark:
// its figures would mean nothing.
inline double TimedCommand(const std::string &command) {
  auto start = std::chrono::steady_clock::now();
  int rc = system(command.c_str());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (rc != 0) {
    fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    exit(1);
  }
  return seconds;
}

}  // namespace bench
