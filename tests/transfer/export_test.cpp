// Export failure paths: each stops with its own message, and a database
// that is not ready leaves an existing output file alone.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "session/globals.h"
#include "transfer_fixture.h"

namespace {

using tvtest::kBanner;
using tvtest::ReadFile;

// The rows of a query on an SQLite file: columns joined by "|", rows
// ended by "\n", NULL as "<null>".
std::string FileRows(const std::string &path, const std::string &query) {
  sqlite3 *file = nullptr;
  sqlite3_stmt *stmt = nullptr;
  std::string rows;
  if (sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(file, query.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    rows = std::string("<error: ") + sqlite3_errmsg(file) + ">";
  } else {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(stmt); c++) {
        const unsigned char *text = sqlite3_column_text(stmt, c);
        rows += (c > 0 ? "|" : "") +
                (text != nullptr ? std::string(reinterpret_cast<const char *>(text)) : "<null>");
      }
      rows += "\n";
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(file);
  return rows;
}

// The names in a directory, sorted and joined by " ".
std::string Entries(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string &name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
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
  std::string installation(const std::string &extra, const std::string &from = "",
                           const std::string &to = "") {
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
  const std::string tool = std::to_string(kToolSchemaVersion);
  const std::string older = std::to_string(kToolSchemaVersion - 1);
  db->exec("UPDATE metadata SET var_value='" + older + "' WHERE var_name='SchemaVersion'");
  EXPECT_EQ(tvtest::Tool(*db, {"export", out}).out,
            kBanner + "Your database has format version " + older + ", this tool is compiled for version " +
                tool + ".\nUse \"upgrade\" command to upgrade your database first.\n");
  db->exec("UPDATE metadata SET var_value='" + tool + "' WHERE var_name='SchemaVersion'");
  db->exec("UPDATE config SET var_value='srv' WHERE var_name='DBLockStatus'");
  EXPECT_EQ(tvtest::Tool(*db, {"export", out}).out, kBanner + "Database is locked by server srv []\n");
  EXPECT_EQ(ReadFile(out), "precious");
}

TEST_F(Export, FailuresStopWithTheirMessage) {
  if (!db) return;
  const std::string tables = [] {
    std::string lines;
    for (const char *t : {"config", "config_clob", "users"})
      lines += std::string("Exporting table ") + t + "\n";
    return lines;
  }();
  const struct {
    std::string env, expected;
  } cases[] = {
      {"TALVEX_INSTALL_PATH=" + dir + "/nowhere",
       "ERROR: cannot load schema file \"" + dir +
           "/nowhere/lib/sql/dbschema_sqlite.sql\"\nDatabase export failed.\n"},
      {installation("", "VALUES ('SchemaVersion','" + std::to_string(kToolSchemaVersion) + "')",
                    "VALUES ('SchemaVersion','" + std::to_string(kToolSchemaVersion - 1) + "')"),
       "ERROR: Schema version mismatch between dbschema_sqlite.sql and your database. Please check that "
       "Talvex server "
       "installed correctly.\nDatabase export failed.\n"},
      {installation("this is not SQL;"),
       "ERROR: unable to apply database schema: near \"this\": syntax error\n"
       "Database export failed.\n"},
      {installation("DELETE FROM metadata WHERE var_name='IDataTableCreationCommand';"),
       "ERROR: dbschema_sqlite.sql does not define IDataTableCreationCommand\nDatabase export failed.\n"},
  };
  // A failed export leaves the earlier file as it was and nothing else.
  tvtest::WriteFile(out, "precious");
  const std::string before = Entries(dir);
  for (const auto &c : cases) {
    tvtest::RunResult r = tvtest::Tool(*db, {"export", out}, "", {c.env});
    EXPECT_TRUE(r.out.ends_with(c.expected)) << r.out;
    EXPECT_EQ(ReadFile(out), "precious");
    EXPECT_EQ(Entries(dir), before);
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
  EXPECT_TRUE(
      r.out.ends_with("Exporting table script_library\nERROR: SQLite query failed: refused\n"
                      "   Query: INSERT INTO script_library (script_id,script_name,script_code) VALUES "
                      "('5','bad','it''s')\nDatabase export failed.\n"))
      << r.out;

  // Without the trigger every listed table is copied, then the node's
  // missing data table stops the export.
  r = tvtest::Tool(*db, {"export", out});
  EXPECT_TRUE(
      r.out.ends_with("Exporting table report_results\nExporting table idata_100\n"
                      "SQL query failed (no such table: idata_100):\n\33[33;1mSELECT * FROM idata_100\33[0m\n"
                      "Database export failed.\n"))
      << r.out;
  // Neither leaves a partial file where there was none, nor replaces an
  // earlier one.
  EXPECT_FALSE(std::filesystem::exists(out));
  tvtest::WriteFile(out, "precious");
  const std::string before = Entries(dir);
  r = tvtest::Tool(*db, {"export", out});
  EXPECT_TRUE(r.out.ends_with("Database export failed.\n")) << r.out;
  EXPECT_EQ(ReadFile(out), "precious");
  EXPECT_EQ(Entries(dir), before);
}

// Whatever storage class the source holds, the file keeps what the value
// written as a quoted literal would give in its typed column.
TEST_F(Export, FileStoresWhatAQuotedLiteralWould) {
  if (!db) return;
  db->execAll(
      {"INSERT INTO event_log (event_id,event_code,event_timestamp,event_source,event_severity,"
       "event_message,root_event_id,user_tag) VALUES "
       "(1,1.5,9223372036854775807,'abc',x'4142',5,-9223372036854775808,NULL),"
       "(2,NULL,'  12 ',' 7',-0.0,'',0,'08')",
       "INSERT INTO syslog (msg_id,msg_timestamp,facility,severity,source_object_id,hostname,msg_tag,"
       "msg_text) VALUES (12345678901234567,-1,'x',2.0,3,'h','t',42)",
       // A source column without a type keeps integers as integers.
       "INSERT INTO nodes (id,community) VALUES (7,'public')",
       "CREATE TABLE idata_7 (item_id integer not null,idata_timestamp integer not null,idata_value)",
       "INSERT INTO idata_7 VALUES (1,2,42),(3,4,NULL)"});
  ASSERT_TRUE(tvtest::Tool(*db, {"export", out}).out.ends_with("Database export complete.\n"));
  EXPECT_EQ(FileRows(out,
                     "SELECT typeof(event_code),event_code,typeof(event_timestamp),event_timestamp,"
                     "typeof(event_source),event_source,typeof(event_severity),event_severity,"
                     "typeof(event_message),event_message,typeof(root_event_id),root_event_id,"
                     "typeof(user_tag),user_tag FROM event_log ORDER BY event_id"),
            "real|1.5|integer|9223372036854775807|text|abc|text|AB|text|5|integer|-9223372036854775808|null|<"
            "null>\n"
            "null|<null>|integer|12|integer|7|integer|0|text||integer|0|text|08\n");
  EXPECT_EQ(FileRows(out,
                     "SELECT typeof(msg_id),msg_id,typeof(msg_timestamp),typeof(facility),typeof(severity),"
                     "typeof(msg_text),msg_text FROM syslog"),
            "integer|12345678901234567|integer|text|integer|text|42\n");
  EXPECT_EQ(FileRows(out, "SELECT typeof(item_id),typeof(idata_value),idata_value FROM idata_7"),
            "integer|text|42\ninteger|null|<null>\n");
  // Nor does a file column without a type, which keeps what it gets.
  std::string untyped = installation("", "idata_value varchar(255) null)", "idata_value)");
  ASSERT_TRUE(tvtest::Tool(*db, {"export", out}, "", {untyped}).out.ends_with("Database export complete.\n"));
  EXPECT_EQ(FileRows(out, "SELECT typeof(item_id),typeof(idata_value),idata_value FROM idata_7"),
            "integer|text|42\ninteger|null|<null>\n");
}

// A row the file refuses is named, in whichever way the table's rows go
// into the file, and no partial file is left.
TEST_F(Export, RefusedRowIsNamedAndItsTableRolledBack) {
  if (!db) return;
  db->exec(
      "INSERT INTO event_log (event_id,event_message,root_event_id) VALUES "
      "(1,'a',NULL),(2,NULL,1),(3,'a',9)");
  const std::string head = "Exporting table event_log\nERROR: SQLite query failed: ";
  const std::string into =
      "\n   Query: INSERT INTO event_log (event_id,event_code,event_timestamp,event_source,event_severity,"
      "event_message,root_event_id,user_tag) VALUES ";
  const std::string tail = "\nDatabase export failed.\n";
  const struct {
    std::string env, expected;
  } cases[] = {
      {installation("", "event_message varchar(255),", "event_message varchar(255) not null,"),
       head + "NOT NULL constraint failed: event_log.event_message" + into +
           "('2',NULL,NULL,NULL,NULL,NULL,'1',NULL)" + tail},
      {installation("CREATE UNIQUE INDEX one_message ON event_log(event_message);"),
       head + "UNIQUE constraint failed: event_log.event_message" + into +
           "('3',NULL,NULL,NULL,NULL,'a','9',NULL)" + tail},
      // Foreign keys are checked once a statement ends, so each row has
      // its own.
      {installation("PRAGMA foreign_keys=ON;", "root_event_id bigint default 0,",
                    "root_event_id bigint default 0 REFERENCES event_log(event_id),"),
       head + "FOREIGN KEY constraint failed" + into + "('3',NULL,NULL,NULL,NULL,'a','9',NULL)" + tail},
  };
  for (const auto &c : cases) {
    tvtest::RunResult r = tvtest::Tool(*db, {"export", out}, "", {c.env});
    EXPECT_TRUE(r.out.ends_with(c.expected)) << r.out;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

// Under any name, the connected database file is neither replaced by an
// export nor emptied by an import of itself; a name that SQLite could
// read as a URI is a plain file name.
TEST_F(Export, ConnectedDatabaseFileIsNeverTheOtherFile) {
  if (!db) return;
  const std::string own = db->value("SELECT file FROM pragma_database_list WHERE name='main'");
  const tvtest::Snapshot before = tvtest::TakeSnapshot(*db);
  const std::string link = dir + "/link.db", hard = dir + "/hard.db";
  std::filesystem::create_symlink(own, link);
  std::filesystem::create_hard_link(own, hard);
  for (const std::string &path : {own, link, hard}) {
    EXPECT_EQ(tvtest::Tool(*db, {"export", path}).out,
              kBanner + "ERROR: output file is the database being exported\n");
    EXPECT_EQ(tvtest::Tool(*db, {"-f", "import", path}).out,
              kBanner + "ERROR: import file is the database being replaced\nDatabase import failed.\n");
  }
  // "file:<own>" names a file in a directory "file:" that does not exist.
  for (const std::string &uri : {"file:" + own, "file:" + own + "?mode=ro", "file://" + own}) {
    EXPECT_EQ(tvtest::Tool(*db, {"export", uri}).out, kBanner + "ERROR: unable to open output file\n");
    EXPECT_EQ(tvtest::Tool(*db, {"-f", "import", uri}).out,
              kBanner + "ERROR: unable to open import file " + uri +
                  " for reading (No such file or directory)\nDatabase import failed.\n");
  }
  db->reconnect();
  EXPECT_EQ(tvtest::TakeSnapshot(*db), before);
  EXPECT_NE(db->value("SELECT count(*) FROM config"), "0");
}

// Only a regular file, or a name where there is nothing yet, is replaced;
// a symlink is followed and stays.
TEST_F(Export, OutputIsARegularFileOrNewAndSymlinksAreFollowed) {
  if (!db) return;
  const std::string fifo = dir + "/fifo", directory = dir + "/directory", file = dir + "/file.db";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::filesystem::create_directory(directory);
  tvtest::WriteFile(file, "precious");
  std::filesystem::create_symlink("fifo", dir + "/to-fifo");
  std::filesystem::create_symlink("to-fifo", dir + "/to-to-fifo");
  std::filesystem::create_symlink("loop", dir + "/loop");
  for (const char *name : {"fifo", "directory", "to-fifo", "to-to-fifo"}) {
    EXPECT_EQ(tvtest::Tool(*db, {"export", dir + "/" + name}).out,
              kBanner + "ERROR: output file " + dir + "/" + name + " exists and is not a regular file\n");
  }
  for (const std::string &unusable : {dir + "/loop", std::string()})
    EXPECT_EQ(tvtest::Tool(*db, {"export", unusable}).out, kBanner + "ERROR: unable to open output file\n");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_TRUE(std::filesystem::is_empty(directory));
  EXPECT_EQ(ReadFile(file), "precious");

  // A link to a file, relative or absolute, or to a name not yet there.
  std::filesystem::create_directory(dir + "/links");
  std::filesystem::create_symlink("../file.db", dir + "/links/relative");
  std::filesystem::create_symlink(dir + "/new.db", dir + "/links/dangling");
  for (const char *name : {"relative", "dangling"}) {
    const std::string link = dir + "/links/" + name;
    const std::filesystem::path target = std::filesystem::read_symlink(link);
    EXPECT_TRUE(tvtest::Tool(*db, {"export", link}).out.ends_with("Database export complete.\n"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), target);
    EXPECT_EQ(FileRows(link, "SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
              std::to_string(kToolSchemaVersion) + "\n");
  }
  // Made like any new file, not with a temporary file's private mode.
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(std::filesystem::status(file).permissions(), static_cast<std::filesystem::perms>(0666 & ~mask));
  EXPECT_EQ(Entries(dir), "directory fifo file.db links loop new.db to-fifo to-to-fifo");
}

TEST_F(Export, TraceShowsTheSourceQueriesOnly) {
  if (!db) return;
  db->execAll({"INSERT INTO nodes (id,community) VALUES (7,'public')",
               "CREATE TABLE idata_7 (item_id integer not null,idata_timestamp integer not null,idata_value "
               "varchar(255))"});
  tvtest::RunResult r = tvtest::Tool(*db, {"-t", "export", out}, "", {"NO_COLOR=1"});
  EXPECT_TRUE(
      r.out.ends_with("Exporting table report_results\n>>> SELECT * FROM report_results\n"
                      ">>> SELECT id FROM nodes\nExporting table idata_7\n>>> SELECT * FROM idata_7\n"
                      "Database export complete.\n"))
      << r.out;
  EXPECT_EQ(r.out.find("INSERT"), std::string::npos);
}

}  // namespace
