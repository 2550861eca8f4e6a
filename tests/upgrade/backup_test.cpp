// The backup an upgrade takes first (--backup FILE): every table of the
// database as it was, in an SQLite file put in place only once complete;
// no upgrade without it; the file and its restoring command named when
// the upgrade fails.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue.h"
#include "fixtures.h"
#include "start_versions.h"
#include "transfer/export_table_list.h"

namespace {

using upgradetest::RunUpgrade;
using upgradetest::WithoutBanner;

// Every table of an SQLite file with its rows as TakeState has them.
std::map<std::string, std::string> FileRows(const std::string &path) {
  std::map<std::string, std::string> tables;
  sqlite3 *file = nullptr;
  if (sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(file);
    ADD_FAILURE() << "cannot open " << path;
    return tables;
  }
  std::vector<std::string> names;
  sqlite3_exec(
      file, "SELECT name FROM sqlite_master WHERE type='table'",
      [](void *out, int, char **values, char **) {
        static_cast<std::vector<std::string> *>(out)->emplace_back(values[0]);
        return 0;
      },
      &names, nullptr);
  for (const std::string &name : names) {
    std::vector<std::string> rows;
    sqlite3_exec(
        file, ("SELECT * FROM " + name).c_str(),
        [](void *out, int count, char **values, char **) {
          std::string row;
          for (int c = 0; c < count; c++)
            row += std::string(c > 0 ? "|" : "") + (values[c] ? values[c] : "<null>");
          static_cast<std::vector<std::string> *>(out)->push_back(row);
          return 0;
        },
        &rows, nullptr);
    // Split into lines and sorted, as TakeState has them.
    std::string all;
    for (size_t i = 0; i < rows.size(); i++) all += (i > 0 ? "\n" : "") + rows[i];
    std::vector<std::string> lines;
    std::stringstream in(all);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::string joined;
    for (const std::string &line : lines) joined += line + "\n";
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    tables[lower] = joined;
  }
  sqlite3_close(file);
  return tables;
}

class UpgradeBackup : public ::testing::TestWithParam<std::string> {};

// A failing upgrade: the backup holds what the database held, and the
// final message says where it is and how to restore it. A backup that
// cannot be written stops the upgrade before its first step.
TEST_P(UpgradeBackup, HoldsTheDatabaseAsItWasBeforeTheUpgrade) {
  auto db = upgradetest::DatabaseAtVersion(GetParam(), 236);
  if (!db) return;
  db->exec(
      "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
      "(56,'O''Brien',0,1,'mine','')");
  const upgradetest::DatabaseState before = upgradetest::TakeState(*db);
  const std::string dir = tvtest::TempDir();

  tvtest::RunResult r = RunUpgrade(*db, {"-f", "--backup", dir + "/missing/backup.db"});
  EXPECT_TRUE(
      WithoutBanner(r.out).ends_with("ERROR: unable to open output file\n"
                                     "Database upgrade failed: no backup was taken, and the "
                                     "database was not changed\n"))
      << r.out;
  EXPECT_EQ(upgradetest::StateDifferences(before, upgradetest::TakeState(*db)), "");

  const std::string backup = dir + "/backup.db";
  r = RunUpgrade(*db, {"-f", "--backup", backup});
  EXPECT_TRUE(
      r.out.ends_with("Database upgrade failed\nThe database as it was before this upgrade is in the "
                      "backup " +
                      backup + "; to restore it, run \"tvdbmgr import " + backup +
                      "\" with a tvdbmgr built for schema version 236, on a database initialised at "
                      "that version.\n"))
      << r.out;
  const std::map<std::string, std::string> saved = FileRows(backup);
  for (const auto &[table, rows] : before.rows)
    EXPECT_EQ(saved.count(table) ? saved.at(table) : "<none>", rows) << table;
  EXPECT_EQ(saved.size(), before.rows.size());
  std::filesystem::remove_all(dir);
}

// At the tool's version the backup is an export: the same rows as one
// taken by hand, and importing it gives the database back.
TEST_P(UpgradeBackup, EqualsAnExportAndImportsBack) {
  auto db = tvtest::OpenOrSkip(GetParam());
  if (!db || !db->initSchema()) return;
  db->exec(
      "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
      "(100000,'O''Brien',0,1,'it''s','')");
  const std::string dir = tvtest::TempDir();
  tvtest::RunResult r = RunUpgrade(*db, {"--backup", dir + "/backup.db"});
  EXPECT_TRUE(
      WithoutBanner(r.out).ends_with("Database export complete.\nYour database format is up to date\n"))
      << r.out;
  r = tvtest::RunTool({"-c", db->configPath(), "export", dir + "/export.db"});
  ASSERT_TRUE(r.out.ends_with("Database export complete.\n")) << r.out;
  const std::map<std::string, std::string> backup = FileRows(dir + "/backup.db");
  const std::map<std::string, std::string> exported = FileRows(dir + "/export.db");
  for (const char *const *table = ExportTableList; *table != nullptr; table++)
    EXPECT_EQ(backup.count(*table) ? backup.at(*table) : "<none>", exported.at(*table)) << *table;

  const upgradetest::DatabaseState original = upgradetest::TakeState(*db);
  auto restored = tvtest::OpenOrSkip(GetParam());
  if (!restored || !restored->initSchema()) return;
  r = tvtest::RunTool({"-f", "-c", restored->configPath(), "import", dir + "/backup.db"});
  EXPECT_TRUE(r.out.ends_with("Database import complete.\n")) << r.out;
  restored->reconnect();
  const upgradetest::DatabaseState back = upgradetest::TakeState(*restored);
  for (const char *const *table = ExportTableList; *table != nullptr; table++)
    EXPECT_EQ(upgradetest::WithoutGeneratedValues(back.rows.at(*table)),
              upgradetest::WithoutGeneratedValues(original.rows.at(*table)))
        << *table;
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Engines, UpgradeBackup, ::testing::ValuesIn(tvtest::AllEngines()),
                         [](const auto &info) { return info.param; });

}  // namespace
