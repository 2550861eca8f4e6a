// Export failure paths: each stops with its own message, and a database
// that is not ready leaves an existing output file alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "transfer_fixture.h"

namespace {

const std::string kBanner = "Talvex Database Manager Version 1.1.9\n\n";

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class Export : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = tvtest::TempDir();
    db = tvtest::OpenOrSkip("sqlite");
    if (!db || !tvtest::InitSchemaFast(*db)) db.reset();
    out = dir + "/out.db";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  // An installation whose schema script is the real one with extra text.
  std::string installation(const std::string &extra, const std::string &from = "", const std::string &to = "") {
    std::string script = ReadFile(tvtest::SqlDir() + "/dbschema_sqlite.sql");
    if (!from.empty()) script.replace(script.find(from), from.size(), to);
    std::string root = dir + "/install" + std::to_string(installs++);
    std::filesystem::create_directories(root + "/lib/sql");
    tvtest::WriteFile(root + "/lib/sql/dbschema_sqlite.sql", script + extra);
    return "TALVEX_INSTALL_PATH=" + root;
  }
  std::unique_ptr<tvtest::TestDatabase> db;
  std::string dir, out;
  int installs = 0;
};

TEST_F(Export, DatabaseNotReadyLeavesTheOutputFileAlone) {
  if (!db) return;
  tvtest::WriteFile(out, "precious");
  db->exec("UPDATE metadata SET var_value='244' WHERE var_name='SchemaVersion'");
  EXPECT_EQ(tvtest::Tool(*db, {"export", out}).out,
            kBanner + "Your database has format version 244, this tool is compiled for version 245.\n"
                      "Use \"upgrade\" command to upgrade your database first.\n");
  db->exec("UPDATE metadata SET var_value='245' WHERE var_name='SchemaVersion'");
  db->exec("UPDATE config SET var_value='srv' WHERE var_name='DBLockStatus'");
  EXPECT_EQ(tvtest::Tool(*db, {"export", out}).out, kBanner + "Database is locked by server srv []\n");
  EXPECT_EQ(ReadFile(out), "precious");
}

TEST_F(Export, FailuresStopWithTheirMessage) {
  if (!db) return;
  const std::string tables = [] {
    std::string lines;
    for (const char *t : {"config", "config_clob", "users"}) lines += std::string("Exporting table ") + t + "\n";
    return lines;
  }();
  const struct {
    std::string env, expected;
  } cases[] = {
      {"TALVEX_INSTALL_PATH=" + dir + "/nowhere",
       "ERROR: cannot load schema file \"" + dir + "/nowhere/lib/sql/dbschema_sqlite.sql\"\nDatabase export failed.\n"},
      {installation("", "VALUES ('SchemaVersion','245')", "VALUES ('SchemaVersion','244')"),
       "ERROR: Schema version mismatch between dbschema_sqlite.sql and your database. Please check that Talvex server "
       "installed correctly.\nDatabase export failed.\n"},
      {installation("this is not SQL;"), "ERROR: unable to apply database schema: near \"this\": syntax error\n"
                                         "Database export failed.\n"},
      {installation("DELETE FROM metadata WHERE var_name='IDataTableCreationCommand';"),
       "ERROR: dbschema_sqlite.sql does not define IDataTableCreationCommand\nDatabase export failed.\n"},
  };
  for (const auto &c : cases) {
    tvtest::RunResult r = tvtest::Tool(*db, {"export", out}, "", {c.env});
    EXPECT_TRUE(r.out.ends_with(c.expected)) << r.out;
  }
}

TEST_F(Export, RefusedRowRollsBackItsTableAndMissingNodeTableStops) {
  if (!db) return;
  db->execAll({"INSERT INTO script_library (script_id,script_name,script_code) VALUES (5,'bad','it''s')",
               "INSERT INTO nodes (id,community) VALUES (100,'public')"});
  std::string env = installation(
      "CREATE TRIGGER no_bad BEFORE INSERT ON script_library WHEN NEW.script_name='bad' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  tvtest::RunResult r = tvtest::Tool(*db, {"export", out}, "", {env});
  EXPECT_TRUE(r.out.ends_with("Exporting table script_library\nERROR: SQLite query failed: refused\n"
                              "   Query: INSERT INTO script_library (script_id,script_name,script_code) VALUES "
                              "('5','bad','it''s')\nDatabase export failed.\n"))
      << r.out;

  // Without the trigger every listed table is copied, then the node's
  // missing data table stops the export.
  r = tvtest::Tool(*db, {"export", out});
  EXPECT_TRUE(r.out.ends_with("Exporting table report_results\nExporting table idata_100\n"
                              "SQL query failed (no such table: idata_100):\n\33[33;1mSELECT * FROM idata_100\33[0m\n"
                              "Database export failed.\n"))
      << r.out;
  // What was copied before stays in the file.
  EXPECT_EQ(system(("sqlite3 " + out + " 'SELECT script_name FROM script_library' > " + dir + "/names").c_str()), 0);
  EXPECT_NE(ReadFile(dir + "/names").find("bad\n"), std::string::npos);
}

// Under any name, the connected database file is neither replaced by an
// export nor emptied by an import of itself.
TEST_F(Export, ConnectedDatabaseFileIsNeverTheOtherFile) {
  if (!db) return;
  const std::string own = db->value("SELECT file FROM pragma_database_list WHERE name='main'");
  const std::string link = dir + "/link.db";
  std::filesystem::create_symlink(own, link);
  for (const std::string &path : {own, link}) {
    EXPECT_EQ(tvtest::Tool(*db, {"export", path}).out, kBanner + "ERROR: output file is the database being exported\n");
    EXPECT_EQ(tvtest::Tool(*db, {"-f", "import", path}).out,
              kBanner + "ERROR: import file is the database being replaced\nDatabase import failed.\n");
  }
  db->reconnect();
  EXPECT_NE(db->value("SELECT count(*) FROM config"), "0");
}

TEST_F(Export, TraceShowsTheSourceQueriesOnly) {
  if (!db) return;
  db->execAll({"INSERT INTO nodes (id,community) VALUES (7,'public')",
               "CREATE TABLE idata_7 (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255))"});
  tvtest::RunResult r = tvtest::Tool(*db, {"-t", "export", out}, "", {"NO_COLOR=1"});
  EXPECT_TRUE(r.out.ends_with("Exporting table report_results\n>>> SELECT * FROM report_results\n"
                              ">>> SELECT id FROM nodes\nExporting table idata_7\n>>> SELECT * FROM idata_7\n"
                              "Database export complete.\n"))
      << r.out;
  EXPECT_EQ(r.out.find("INSERT"), std::string::npos);
}

}  // namespace
