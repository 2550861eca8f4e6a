// The desktop dialog of -G, with a stand-in dialog program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>

#include "session/ask.h"
#include "session/globals.h"
#include "support/test_db.h"

namespace {

TEST(AskDialog, LongQuestionIsCutOnACharacterBoundary) {
  std::string dir = tvtest::TempDir();
  // Writes the question text (the last argument) and answers yes.
  tvtest::WriteFile(dir + "/zenity", "#!/bin/sh\nfor a in \"$@\"; do t=\"$a\"; done\nprintf '%s' \"$t\" > " +
                                         dir + "/text\nexit 0\n");
  chmod((dir + "/zenity").c_str(), 0755);
  const char *oldPath = getenv("PATH");
  const std::string savedPath = oldPath != nullptr ? oldPath : "";
  setenv("PATH", (dir + ":" + savedPath).c_str(), 1);
  setenv("DISPLAY", ":42", 1);
  GuiMode = true;

  std::string e;
  for (int i = 0; i < 5000; i++) e += "\xc3\xa9";
  // Started with SIGCHLD ignored, the answer must still come back.
  sighandler_t oldChld = signal(SIGCHLD, SIG_IGN);
  EXPECT_TRUE(AskYesNo("x%s", e.c_str()));
  signal(SIGCHLD, oldChld);

  GuiMode = false;
  unsetenv("DISPLAY");
  setenv("PATH", savedPath.c_str(), 1);
  // 4095 characters: "x" and 4094 whole two-byte characters.
  const std::string shown = tvtest::ReadFile(dir + "/text");
  EXPECT_EQ(shown.size(), 1u + 4094 * 2);
  EXPECT_TRUE(shown.size() > 2 && shown.compare(shown.size() - 2, 2, "\xc3\xa9") == 0);
  std::filesystem::remove_all(dir);
}

}  // namespace
