// The "Exporting table"/"Importing table" lines on a terminal: once a
// table is done, the count they show is the table's total.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/syslog_fill.h"
#include "support/terminal_run.h"
#include "support/test_db.h"

namespace {

TEST(TableProgress, ShowsTheTotalOnceATableIsDone) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db) return;
  ASSERT_TRUE(db->initSchema());
  // More rows than the lines count between two looks at the clock.
  tvtest::FillSyslog(*db, 20000);
  const std::string dir = tvtest::TempDir();
  const std::string file = dir + "/export.db";
  tvtest::TerminalRun exported =
      tvtest::RunOnTerminal(tvtest::ToolPath(), {"-c", db->configPath(), "export", file});
  ASSERT_EQ(exported.exitCode, 0) << exported.bytes;
  tvtest::TerminalRun imported =
      tvtest::RunOnTerminal(tvtest::ToolPath(), {"-f", "-c", db->configPath(), "import", file});
  ASSERT_EQ(imported.exitCode, 0) << imported.bytes;
  for (const auto &[verb, run] : {std::pair{"Exporting", exported}, std::pair{"Importing", imported}}) {
    const std::string screen = tvtest::Screen(run.bytes);
    const std::string line = std::string(verb) + " table syslog (20000 rows, ";
    EXPECT_NE(screen.find("\n" + line), std::string::npos) << screen;
    // The count of other tables, without a line drawn, stays off the screen.
    EXPECT_NE(screen.find(std::string("\n") + verb + " table nodes\n"), std::string::npos) << screen;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
