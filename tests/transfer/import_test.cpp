// Import failure paths: a bad file or a refusal leaves the database as it
// was; a row the database refuses is reported as its own statement, and
// its table is rolled back, whichever road the rows took.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "transfer_fixture.h"

namespace {

const std::string kBanner = "Talvex Database Manager Version 1.1.9\n\n";
const std::string kWarning =
    "\n\n\33[1mWARNING!!!\33[0m\nThis operation will clear all configuration and collected data from "
    "database.\n"
    "Are you sure? (Y/N) ";

class Import : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    dir = tvtest::TempDir();
    file = tvtest::MakeExportFile(dir);
    db = tvtest::OpenOrSkip(GetParam());
    if (!db || file.empty() || !tvtest::InitSchemaFast(*db)) {
      db.reset();
      return;
    }
    db->exec(
        "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
        "('Marker','kept',1,0)");
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  bool untouched() { return db->value("SELECT var_value FROM config WHERE var_name='Marker'") == "kept"; }
  // A copy of the export file changed by statements.
  std::string alteredFile(const std::vector<std::string> &statements) {
    std::string copy = dir + "/altered-" + std::to_string(copies++) + ".db";
    std::filesystem::copy_file(file, copy);
    std::string script;
    for (const std::string &s : statements) script += s + ";";
    EXPECT_EQ(system(("sqlite3 " + copy + " \"" + script + "\"").c_str()), 0) << script;
    return copy;
  }
  std::unique_ptr<tvtest::TestDatabase> db;
  std::string dir, file;
  int copies = 0;
};

TEST_P(Import, BadFilesAreRefusedBeforeAnythingIsCleared) {
  if (!db) return;
  // Cut in half, the file loses its schema; with a garbled last page,
  // only the rows that would be read last.
  std::string half = dir + "/half.db", garbled = dir + "/garbled.db";
  std::filesystem::copy_file(file, half);
  std::filesystem::resize_file(half, std::filesystem::file_size(half) / 2);
  std::filesystem::copy_file(file, garbled);
  {
    std::fstream out(garbled, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(std::filesystem::file_size(garbled) - 4096));
    out << std::string(100, '\xff');
  }
  std::string text = dir + "/notes.txt";
  tvtest::WriteFile(text,
                    "not a database, just some text that is long enough to look like a header of a file");
  const struct {
    std::string path, message;
  } cases[] = {
      {dir + "/missing.db", "ERROR: unable to open output file\n"},
      {text, "ERROR: SQL query failed (file is not a database)\n"},
      {half, "ERROR: SQL query failed (database disk image is malformed)\n"},
      {garbled, "ERROR: import file is damaged (*** in database main ***\nPage "},
      {alteredFile({"UPDATE metadata SET var_value='244' WHERE var_name='SchemaVersion'"}),
       "ERROR: Import file was created for database format version 244, but this tool was compiled for "
       "database "
       "format version 245\n"},
      {alteredFile({"DROP TABLE usm_credentials"}),
       "ERROR: table usm_credentials is missing in import file\n"},
      {alteredFile({"ALTER TABLE zones ADD COLUMN shoe_size integer"}),
       "ERROR: column shoe_size of table zones in import file does not exist in the database\n"},
      {alteredFile({"ALTER TABLE zones ADD COLUMN \\\"x) VALUES (1); DROP TABLE nodes; --\\\" integer"}),
       "ERROR: column \"x) VALUES (1); DROP TABLE nodes; --\" of table zones in import file is not a valid "
       "column "
       "name\n"},
      {alteredFile({"DROP TABLE idata_100"}), "ERROR: table idata_100 is missing in import file\n"},
      {alteredFile({"ALTER TABLE idata_100 ADD COLUMN extra integer"}),
       "ERROR: column extra of table idata_100 in import file does not exist in the database\n"},
      // A word of the creation statement that names no column.
      {alteredFile({"ALTER TABLE idata_100 ADD COLUMN varchar integer"}),
       "ERROR: column varchar of table idata_100 in import file does not exist in the database\n"},
  };
  for (const auto &c : cases) {
    tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", c.path});
    EXPECT_EQ(r.out.rfind(kBanner + c.message, 0), 0u) << r.out;
    EXPECT_TRUE(r.out.ends_with("Database import failed.\n")) << r.out;
    EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << r.out;
    EXPECT_TRUE(untouched()) << c.path;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/missing.db"));
}

TEST_P(Import, DeclinedLockedOrUnpreparedDatabaseStaysAsItWas) {
  if (!db) return;
  tvtest::RunResult r = tvtest::Tool(*db, {"import", file}, "xn");
  EXPECT_EQ(r.out, kBanner + kWarning + "N\nDatabase import failed.\n");
  EXPECT_TRUE(untouched());

  db->exec("DELETE FROM metadata WHERE var_name='IDataTableCreationCommand'");
  r = tvtest::Tool(*db, {"-f", "import", file});
  EXPECT_EQ(r.out, kBanner +
                       "ERROR: unable to determine correct query for idata tables creation\n"
                       "Database import failed.\n");
  EXPECT_TRUE(untouched());

  db->exec("UPDATE config SET var_value='talvexd#231' WHERE var_name='DBLockStatus'");
  r = tvtest::Tool(*db, {"-f", "import", file});
  EXPECT_EQ(r.out, kBanner + "Database is locked by server talvexd#1 []\nDatabase import failed.\n");
  EXPECT_TRUE(untouched());
}

TEST_P(Import, MissingCollectedDataTableOfOldNodeStopsClearingUnlessIgnored) {
  if (!db) return;
  db->exec("INSERT INTO nodes (id,community) VALUES (77,'old')");
  tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", file});
  EXPECT_NE(r.out.find("\33[33;1mDROP TABLE idata_77\33[0m\nDatabase import failed.\n"), std::string::npos)
      << r.out;
  EXPECT_TRUE(untouched());
  EXPECT_EQ(db->value("SELECT count(*) FROM nodes"), "1");

  r = tvtest::Tool(*db, {"-f", "-X", "import", file});
  EXPECT_TRUE(r.out.ends_with("Importing table idata_100\nDatabase import complete.\n")) << r.out;
  EXPECT_FALSE(untouched());
  db->reconnect();
  EXPECT_EQ(db->rows("SELECT item_id,idata_value FROM idata_100 ORDER BY item_id"), "1|v\n3|<null>");
}

TEST_P(Import, RefusedRowIsReportedAsItsStatementOnEitherRoad) {
  if (!db) return;
  if (GetParam() == "sqlite")
    db->exec(
        "CREATE TRIGGER no_bad BEFORE INSERT ON script_library WHEN NEW.script_name='bad' "
        "BEGIN SELECT RAISE(ABORT, 'bad script'); END");
  else
    db->exec("ALTER TABLE script_library ADD CONSTRAINT no_bad CHECK (script_name <> 'bad')");
  for (bool trace : {false, true}) {
    db->exec("DELETE FROM nodes");  // imported by the run before, without its data table
    std::vector<std::string> args = {"-f", "import", file};
    if (trace) args.insert(args.begin(), "-t");
    tvtest::RunResult r = tvtest::Tool(*db, args);
    const std::string tail =
        "\33[33;1mINSERT INTO script_library (script_id,script_name,script_code) VALUES "
        "('102','bad','y')\33[0m\n"
        "ERROR: SQL query \"SELECT * FROM script_library\" on import file failed (query aborted)\n"
        "Database import failed.\n";
    EXPECT_TRUE(r.out.ends_with(tail)) << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    const std::string good =
        "INSERT INTO script_library (script_id,script_name,script_code) VALUES ('101','good','x')";
    EXPECT_EQ(r.out.find(good) != std::string::npos, trace);
    db->reconnect();
    // The tables before are in, the failed one is rolled back.
    EXPECT_EQ(db->value("SELECT count(*) FROM script_library"), "0");
    EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='Marker'"), "<none>");
    EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"), "UNLOCKED");
  }
}

// The index templates run in suffix order up to the first one missing.
TEST_P(Import, CollectedDataIndexesComeFromTheTemplatesBeforeTheFirstGap) {
  if (!db) return;
  db->execAll({"DELETE FROM metadata WHERE var_name LIKE 'IDataIndexCreationCommand%'",
               "INSERT INTO metadata (var_name,var_value) VALUES "
               "('IDataIndexCreationCommand_1','CREATE INDEX idx_b_%d ON idata_%d(idata_timestamp)')",
               "INSERT INTO metadata (var_name,var_value) VALUES "
               "('IDataIndexCreationCommand_3','CREATE INDEX idx_d_%d ON idata_%d(idata_value)')"});
  auto creates = [&] {
    tvtest::RunResult r = tvtest::Tool(*db, {"-t", "-f", "import", file}, "", {"NO_COLOR=1"});
    EXPECT_TRUE(r.out.ends_with("Database import complete.\n")) << r.out;
    std::string found;
    for (size_t p = 0; (p = r.out.find(">>> CREATE INDEX ", p)) != std::string::npos; p++)
      found += r.out.substr(p + 4, r.out.find('\n', p) - p - 4) + "\n";
    return found;
  };
  EXPECT_EQ(creates(), "");
  db->exec(
      "INSERT INTO metadata (var_name,var_value) VALUES "
      "('IDataIndexCreationCommand_0','CREATE INDEX idx_a_%d ON idata_%d(item_id)')");
  EXPECT_EQ(creates(),
            "CREATE INDEX idx_a_100 ON idata_100(item_id)\n"
            "CREATE INDEX idx_b_100 ON idata_100(idata_timestamp)\n");
}

INSTANTIATE_TEST_SUITE_P(Engines, Import, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
