#include "support/captured_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "support/test_db.h"

namespace tvtest {

CapturedOutput::CapturedOutput(const std::string &keys) : dir_(TempDir()) {
  WriteFile(dir_ + "/keys", keys);
  fflush(stdout);
  savedOut_ = dup(STDOUT_FILENO);
  savedIn_ = dup(STDIN_FILENO);
  int out = open((dir_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int in = open((dir_ + "/keys").c_str(), O_RDONLY);
  dup2(out, STDOUT_FILENO);
  dup2(in, STDIN_FILENO);
  close(out);
  close(in);
}

CapturedOutput::~CapturedOutput() {
  restore();
  std::filesystem::remove_all(dir_);
}

std::string CapturedOutput::text() {
  restore();
  return ReadFile(dir_ + "/out");
}

std::string CapturedOutput::flushed() const { return ReadFile(dir_ + "/out"); }

void CapturedOutput::restore() {
  if (savedOut_ < 0) return;
  fflush(stdout);
  dup2(savedOut_, STDOUT_FILENO);
  dup2(savedIn_, STDIN_FILENO);
  close(savedOut_);
  close(savedIn_);
  savedOut_ = savedIn_ = -1;
}

}  // namespace tvtest
