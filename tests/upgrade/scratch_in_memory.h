// SQLite syncs every committed step to disk, so that a whole upgrade on a
// disk takes seconds where it takes a tenth of that in memory. The tests
// that run the whole upgrade many times check what a run leaves behind,
// not what survives a power cut, so while one lives the temporary
// directory of the test databases and the tool's files is /dev/shm where
// the machine has one.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace upgradetest {

class ScratchInMemory {
 public:
  ScratchInMemory() {
    if (const char *value = getenv("TMPDIR")) saved_ = value;
    if (access("/dev/shm", W_OK | X_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  }
  ~ScratchInMemory() {
    if (saved_)
      setenv("TMPDIR", saved_->c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  ScratchInMemory(const ScratchInMemory &) = delete;
  ScratchInMemory &operator=(const ScratchInMemory &) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace upgradetest
