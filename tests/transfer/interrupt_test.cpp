// Ctrl-C or SIGTERM during an export or an import: the run ends by the
// signal, says so, and leaves the files and the database as a kill would,
// without the export's temporary file.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/interrupted_run.h"
#include "support/syslog_fill.h"
#include "support/test_db.h"

namespace {

std::vector<std::string> FilesIn(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Interrupt, ExportAndImportEndBySignalAndSaySo) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db) return;
  ASSERT_TRUE(db->initSchema());
  // Enough rows for the signal to come while the table is copied.
  tvtest::FillSyslog(*db, 400000);
  const std::string dir = tvtest::TempDir();
  const std::string file = dir + "/export.db";
  ASSERT_EQ(tvtest::RunTool({"-c", db->configPath(), "export", file}).exitCode, 0);
  const auto exported = std::filesystem::file_size(file);

  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    tvtest::InterruptedRun run =
        tvtest::RunAndInterrupt({"-c", db->configPath(), "export", file}, "Exporting table syslog", sig);
    EXPECT_EQ(run.signal, sig) << run.out;
    EXPECT_TRUE(run.out.ends_with("Exporting table syslog\nDatabase export interrupted\n")) << run.out;
    // The earlier export as it was, and nothing beside it.
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"export.db"});
    EXPECT_EQ(std::filesystem::file_size(file), exported);
  }

  // The import into a new database, interrupted in the same table.
  auto target = tvtest::OpenOrSkip("sqlite");
  ASSERT_TRUE(target->initSchema());
  tvtest::InterruptedRun run = tvtest::RunAndInterrupt({"-f", "-c", target->configPath(), "import", file},
                                                       "Importing table syslog", SIGINT);
  EXPECT_EQ(run.signal, SIGINT) << run.out;
  EXPECT_TRUE(run.out.ends_with(
      "Importing table syslog\nDatabase import interrupted: what it had not committed is rolled back\n"))
      << run.out;
  target->reconnect();
  EXPECT_EQ(target->value("SELECT count(*) FROM syslog"), "0");
  EXPECT_NE(target->value("SELECT count(*) FROM config"), "0");
  std::filesystem::remove_all(dir);
}

}  // namespace
