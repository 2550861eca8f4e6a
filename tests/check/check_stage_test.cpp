// The progress line of a check, seen from the console while the check runs.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "check/check_stage.h"

namespace {

TEST(CheckStage, ProgressLineShowsBeforeTheCheckEnds) {
  fflush(stdout);
  char path[] = "/tmp/check_stage_XXXXXX";
  const int file = mkstemp(path);
  ASSERT_GE(file, 0);
  const int console = dup(STDOUT_FILENO);
  dup2(file, STDOUT_FILENO);

  BeginCheckStage("Checking test objects...");
  char seen[256] = "";
  const ssize_t length = pread(file, seen, sizeof(seen) - 1, 0);
  EndCheckStage();

  fflush(stdout);
  dup2(console, STDOUT_FILENO);
  close(console);
  close(file);
  unlink(path);
  ASSERT_GT(length, 0);
  EXPECT_NE(std::string(seen).find("Checking test objects..."), std::string::npos);
}

}  // namespace
