// TVDBMGR_STRICT_EXIT=1: a command that reports failure ends with 7;
// without it every command that ran ends with 0, as scripts expect.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_db.h"

namespace {

TEST(StrictExit, FailedCommandsEndWith7OnlyWhenAsked) {
  const std::string dir = tvtest::TempDir();
  tvtest::WriteFile(dir + "/good.sql", "SELECT 1;");
  tvtest::WriteFile(dir + "/bad.sql", "SELECT * FROM no_such_table;");
  tvtest::WriteFile(dir + "/empty.sql", "\n");
  std::filesystem::create_directory(dir + "/a_directory");
  const std::string lock = "UPDATE config SET var_value='server1' WHERE var_name='DBLockStatus'";
  const std::string newer = "UPDATE metadata SET var_value='246' WHERE var_name='SchemaVersion'";
  const std::string zoneWithoutProperties = "INSERT INTO zones (id,zone_guid) VALUES (5,5)";
  const struct {
    const char *what;
    std::string setup;  // statements run on the fresh database first, or none
    std::vector<std::string> args;
    std::string input;
    bool fails;
  } cases[] = {
      {"upgrade of a current database", "", {"upgrade"}, "", false},
      {"upgrade of a locked database", lock + ";" + newer, {"upgrade"}, "", true},
      {"upgrade of a newer database", newer, {"upgrade"}, "", true},
      {"batch", "", {"batch", dir + "/good.sql"}, "", false},
      {"batch with a failing statement", "", {"batch", dir + "/bad.sql"}, "", true},
      {"batch of a file without statements", "", {"batch", dir + "/empty.sql"}, "", true},
      {"init from a missing file", "", {"init", dir + "/missing.sql"}, "", true},
      {"export", "", {"export", dir + "/out.db"}, "", false},
      {"export onto a directory", "", {"export", dir + "/a_directory"}, "", true},
      {"import of a missing file", "", {"import", dir + "/missing.db"}, "", true},
      {"reindex", "", {"reindex"}, "", false},
      {"reindex of a locked database", lock, {"reindex"}, "", true},
      {"check of a clean database", "", {"check"}, "", false},
      {"check aborted on the lock", lock, {"check"}, "n", true},
      {"check with a defect left", zoneWithoutProperties, {"check"}, "n", true},
      {"check with a repair rolled back", zoneWithoutProperties, {"check"}, "yn", true},
      {"check with the defect repaired", zoneWithoutProperties, {"-f", "check"}, "", false},
      {"unlock of an unlocked database", "", {"unlock"}, "", false},
      {"unlock declined", lock, {"unlock"}, "n", true},
      {"unlock", lock, {"unlock"}, "y", false},
  };
  // One fresh database, copied for every run: init syncs each statement.
  auto fresh = tvtest::OpenOrSkip("sqlite");
  if (!fresh) return;
  ASSERT_TRUE(fresh->initSchema());
  const std::string freshFile = fresh->value("SELECT file FROM pragma_database_list WHERE name='main'");
  const std::string config = dir + "/talvexd.conf", file = dir + "/talvex.db";
  tvtest::WriteFile(config, "DBDriver = sqlite\nDBName = " + file + "\n");
  for (const auto &c : cases) {
    for (const bool strict : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (strict ? ", strict" : ""));
      std::filesystem::copy_file(freshFile, file, std::filesystem::copy_options::overwrite_existing);
      if (!c.setup.empty()) {
        tvtest::WriteFile(dir + "/setup.sql", c.setup);
        ASSERT_EQ(tvtest::RunTool({"-c", config, "batch", dir + "/setup.sql"}).exitCode, 0);
      }
      std::vector<std::string> args = {"-c", config};
      args.insert(args.end(), c.args.begin(), c.args.end());
      tvtest::RunResult r =
          tvtest::RunTool(args, c.input, {strict ? "TVDBMGR_STRICT_EXIT=1" : "TVDBMGR_STRICT_EXIT=0"});
      EXPECT_EQ(r.exitCode, strict && c.fails ? 7 : 0) << r.out << r.err;
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
