// The progress line of a check, seen from the console while the check runs.
#include <gtest/gtest.h>

#include <string>

#include "check/check_stage.h"
#include "support/captured_output.h"

namespace {

TEST(CheckStage, ProgressLineShowsBeforeTheCheckEnds) {
  tvtest::CapturedOutput captured;
  BeginCheckStage("Checking test objects...");
  const std::string seen = captured.flushed();
  EndCheckStage();
  EXPECT_NE(seen.find("Checking test objects..."), std::string::npos) << captured.text();
}

}  // namespace
