// Import failure paths: a bad file or a refusal leaves the database as it
// was; a row the database refuses, anywhere in the file, is reported as
// its own statement, whichever road the rows took, and the whole import
// is undone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "session/globals.h"
#include "transfer_fixture.h"

namespace {

using tvtest::kBanner;
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
  const std::string older = std::to_string(kToolSchemaVersion - 1);
  const struct {
    std::string path, message;
  } cases[] = {
      {dir + "/missing.db",
       "ERROR: unable to open import file " + dir + "/missing.db for reading (No such file or directory)\n"},
      {text, "ERROR: SQL query failed (file is not a database)\n"},
      {half, "ERROR: SQL query failed (database disk image is malformed)\n"},
      {garbled, "ERROR: import file is damaged (*** in database main ***\nPage "},
      {alteredFile({"UPDATE metadata SET var_value='" + older + "' WHERE var_name='SchemaVersion'"}),
       "ERROR: Import file was created for database format version " + older +
           ", but this tool was compiled for database format version " + std::to_string(kToolSchemaVersion) +
           "\n"},
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

// MySQL/MariaDB clear by swapping in the loaded tables, after the last.
std::string WithoutClearedLine(std::string out) {
  const std::string line = "Database successfully cleared\n";
  if (size_t p = out.find(line); p != std::string::npos) out.erase(p, line.size());
  return out;
}

// A node whose table is missing, and a table that a node deleted by a
// check left behind, in the way of an imported node's, stop nothing.
TEST_P(Import, MissingAndStaleCollectedDataTablesDoNotStopTheImport) {
  if (!db) return;
  db->execAll({"INSERT INTO nodes (id,community) VALUES (77,'old')",
               "CREATE TABLE idata_100 (item_id integer not null,idata_timestamp integer not null,"
               "idata_value varchar(255) null)",
               "INSERT INTO idata_100 VALUES (5,6,'stale')"});
  tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", file});
  EXPECT_TRUE(WithoutClearedLine(r.out).ends_with("Importing table idata_100\nDatabase import complete.\n"))
      << r.out;
  db->reconnect();
  EXPECT_FALSE(untouched());
  EXPECT_EQ(db->rows("SELECT id FROM nodes"), "100");
  EXPECT_EQ(db->rows("SELECT item_id,idata_value FROM idata_100 ORDER BY item_id"), "1|v\n3|<null>");
}

// Where the rows of the refused table went: the table itself on the
// engines with transactional schema statements, its staging copy on
// MySQL/MariaDB.
std::string LoadedTable(const std::string &engine, const std::string &table) {
  return engine == "mysql" ? "tvdbmgr_new_" + table : table;
}

TEST_P(Import, RefusedRowIsReportedAsItsStatementOnEitherRoad) {
  if (!db) return;
  if (GetParam() == "sqlite")
    db->exec(
        "CREATE TRIGGER no_bad BEFORE INSERT ON script_library WHEN NEW.script_name='bad' "
        "BEGIN SELECT RAISE(ABORT, 'bad script'); END");
  else
    db->exec("ALTER TABLE script_library ADD CONSTRAINT no_bad CHECK (script_name <> 'bad')");
  const std::string scripts = db->rows("SELECT script_id FROM script_library ORDER BY script_id");
  const std::string insert = "INSERT INTO " + LoadedTable(GetParam(), "script_library") +
                             " (script_id,script_name,script_code) VALUES ";
  for (bool trace : {false, true}) {
    std::vector<std::string> args = {"-f", "import", file};
    if (trace) args.insert(args.begin(), "-t");
    tvtest::RunResult r = tvtest::Tool(*db, args);
    const std::string report =
        "\33[33;1m" + insert +
        "('102','bad','y')\33[0m\n"
        "ERROR: SQL query \"SELECT * FROM script_library\" on import file failed (query "
        "aborted)\n";
    EXPECT_NE(r.out.find(report), std::string::npos)
        << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    EXPECT_TRUE(r.out.ends_with(
        GetParam() == "mysql" ? "The import was abandoned before any table was replaced: the database is "
                                "as it was before\nDatabase import failed.\n"
                              : "The import was rolled back: the database is as it was before\n"
                                "Database import failed.\n"))
        << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    EXPECT_EQ(r.out.find(insert + "('101','good','x')") != std::string::npos, trace);
    db->reconnect();
    EXPECT_TRUE(untouched());
    EXPECT_EQ(db->rows("SELECT script_id FROM script_library ORDER BY script_id"), scripts);
  }
  if (GetParam() == "mysql") {
    EXPECT_EQ(db->value("SHOW TABLES LIKE 'tvdbmgr%'"), "<none>");
  }
}

// A file table rebuilt without constraints, so that it can hold what the
// target refuses.
std::vector<std::string> Loosened(const std::string &table, const std::vector<std::string> &changes) {
  std::vector<std::string> statements = {"CREATE TABLE loose AS SELECT * FROM " + table,
                                         "DROP TABLE " + table, "ALTER TABLE loose RENAME TO " + table};
  statements.insert(statements.end(), changes.begin(), changes.end());
  return statements;
}

// Whatever the refused value and wherever it stands, up to the last row
// of the last collected-data table, the database stays exactly as it was:
// no table emptied, no collected-data table dropped or created.
TEST_P(Import, RefusedValueAnywhereLeavesTheDatabaseAsItWas) {
  if (!db) return;
  tvtest::Populate(*db, 1000);
  db->reconnect();
  const tvtest::Snapshot before = tvtest::TakeSnapshot(*db);
  const std::string all = "sqlite pgsql mysql", servers = "pgsql mysql";
  const struct {
    std::string engines;
    std::vector<std::string> change;
    std::string message;
  } cases[] = {
      {all, Loosened("report_results", {"INSERT INTO report_results VALUES (NULL,1,1)"}), "report_results"},
      {all, Loosened("idata_100", {"INSERT INTO idata_100 VALUES (9,NULL,'last')"}), "idata_100"},
      {all,
       Loosened("syslog",
                {"INSERT INTO syslog VALUES (1,2,3,4,5,'host','tag','a'),(1,2,3,4,5,'host','tag','b')"}),
       "syslog"},
      {servers,
       {"INSERT INTO syslog VALUES (1,2,3,4,5,'host','" + std::string(40, 't') + "','text')"},
       "syslog"},
      {servers, {"INSERT INTO syslog VALUES (1,2,3,4,5,'host',CAST(X'C328' AS TEXT),'text')"}, "syslog"},
      {servers, Loosened("syslog", {"INSERT INTO syslog VALUES (1,'noon',3,4,5,'host','tag','text')"}),
       "syslog"},
      {"mysql",
       {"INSERT INTO syslog VALUES (1,2,3,4,5,'host','tag',replace(hex(zeroblob(524288)),'0','x'))"},
       "syslog"},
      {all,
       {"INSERT INTO syslog VALUES (1,2,3,4,5,'host','tag',CAST('before' || char(0) || 'after' AS TEXT))"},
       "ERROR: column msg_text of table syslog in import file holds a value with a NUL byte (row 1)\n"},
      {all,
       {"INSERT INTO syslog VALUES (1,2,3,4,5,'host','tag',X'00FF00FF')"},
       "ERROR: column msg_text of table syslog in import file holds a value with a NUL byte (row 1)\n"},
  };
  for (const auto &c : cases) {
    if (c.engines.find(GetParam()) == std::string::npos) continue;
    const std::string altered = alteredFile(c.change);
    tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", altered});
    const std::string tail = r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
    EXPECT_TRUE(r.out.ends_with("Database import failed.\n")) << tail;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << tail;
    EXPECT_EQ(r.out.find("Database import complete"), std::string::npos);
    db->reconnect();
    EXPECT_TRUE(tvtest::TakeSnapshot(*db) == before) << c.change.back().substr(0, 200);
  }
  if (GetParam() == "mysql") {
    EXPECT_EQ(db->value("SHOW TABLES LIKE 'tvdbmgr%'"), "<none>");
  }
}

// What an interrupted import left on MySQL/MariaDB: a staging table, a
// replaced table not yet dropped, and (only a server that went down in
// the middle of the swap leaves that) a live table still set aside.
TEST_P(Import, LeftoversOfAnInterruptedImportAreClearedFirst) {
  if (!db || GetParam() != "mysql") return;
  db->execAll({"CREATE TABLE tvdbmgr_new_nodes LIKE nodes", "CREATE TABLE tvdbmgr_old_zones LIKE zones",
               "RENAME TABLE users TO tvdbmgr_old_users"});
  tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", file});
  EXPECT_NE(r.out.find("Table users, set aside by an interrupted import, was put back\n"), std::string::npos)
      << r.out;
  EXPECT_TRUE(r.out.ends_with("Database import complete.\n")) << r.out;
  db->reconnect();
  EXPECT_EQ(db->value("SHOW TABLES LIKE 'tvdbmgr%'"), "<none>");
  EXPECT_EQ(db->rows("SELECT script_id FROM script_library WHERE script_id>100 ORDER BY script_id"),
            "101\n102\n103");
  EXPECT_EQ(db->rows("SELECT id FROM users"), "0");
}

// A NULL for a NOT NULL text column goes in as the empty text, which is
// what the export's old form gave it; NULLs elsewhere stay NULL. Where
// MySQL's schema has action_data NOT NULL and the others do not, a file
// from PostgreSQL or SQLite still moves to MariaDB.
TEST_P(Import, NullForNotNullTextColumnIsStoredAsEmptyTextAndCounted) {
  if (!db) return;
  const std::string altered = alteredFile(
      {"INSERT INTO actions (action_id,rcpt_addr,email_subject,action_data) VALUES (1,NULL,NULL,NULL),"
       "(2,'a',NULL,NULL),(3,'b','c','d')",
       "CREATE TABLE loose AS SELECT * FROM syslog", "DROP TABLE syslog",
       "ALTER TABLE loose RENAME TO syslog",
       "INSERT INTO syslog VALUES (1,2,3,4,5,'host',NULL,'text'),(2,2,3,4,5,'host','tag','text')"});
  tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", altered});
  const std::string actions =
      GetParam() == "mysql" ? "Table actions: 2 NULL values stored as empty text in NOT NULL columns\n" : "";
  EXPECT_TRUE(WithoutClearedLine(r.out).ends_with(
      "Importing table idata_100\n" + actions +
      "Table syslog: 1 NULL value stored as empty text in NOT NULL columns\n"
      "Database import complete.\n"))
      << r.out;
  db->reconnect();
  EXPECT_EQ(db->rows("SELECT action_id,rcpt_addr,email_subject,action_data FROM actions ORDER BY action_id"),
            GetParam() == "mysql" ? "1|<null>|<null>|\n2|a|<null>|\n3|b|c|d"
                                  : "1|<null>|<null>|<null>\n2|a|<null>|<null>\n3|b|c|d");
  EXPECT_EQ(db->rows("SELECT msg_id,msg_tag FROM syslog ORDER BY msg_id"), "1|\n2|tag");
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
  // MySQL/MariaDB index the staging table, which then takes the live name.
  const std::string table = LoadedTable(GetParam(), "idata_100");
  EXPECT_EQ(creates(), "CREATE INDEX idx_a_100 ON " + table + "(item_id)\nCREATE INDEX idx_b_100 ON " +
                           table + "(idata_timestamp)\n");
}

INSTANTIATE_TEST_SUITE_P(Engines, Import, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
