// Recoding a text column of many rows, half of them holding escaped
// characters: rows per second and peak memory of the process.
//
//   recode_bench [rows] [engine...]    engines: sqlite, pgsql (default: both)
//
// "sqlite-rowwise" and "pgsql-rowwise" run the same recoding with the
// dialect of the sixth engine, whose branch reads all matching rows at once
// and updates them one statement per row: the baseline to compare with.
//
// PostgreSQL is reached on 127.0.0.1 as tvtest/tvtest (TVDBMGR_TEST_PG_HOST,
// TVDBMGR_TEST_USER, TVDBMGR_TEST_PASSWORD override); a scratch database
// is created and dropped.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "db/db.h"
#include "session/globals.h"
#include "upgrade/helpers.h"

namespace {

const char *Env(const char *name, const char *fallback) {
  const char *v = getenv(name);
  return v != nullptr && *v != 0 ? v : fallback;
}

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

bool Exec(db_handle_t db, const std::string &sql) {
  char error[DBDRV_MAX_ERROR_TEXT];
  if (DBQueryEx(db, sql.c_str(), error)) return true;
  fprintf(stderr, "failed: %s\n%s\n", error, sql.c_str());
  return false;
}

std::string Value(db_handle_t db, const std::string &sql) {
  db_result_t r = DBSelect(db, sql.c_str());
  std::string v;
  if (r != nullptr) {
    if (DBGetNumRows(r) > 0) {
      char *copy = DBGetField(r, 0, 0, nullptr, 0);
      v = copy;
      free(copy);
    }
    DBFreeResult(r);
  }
  return v;
}

bool Run(db_handle_t db, const std::string &label, int syntax, long rows) {
  DbHandle = db;
  DbSyntax = syntax;
  // Rows numbered from 0 by a cross join of digit tables, so that the
  // data is made inside the engine.
  std::vector<std::string> setup = {
      "CREATE TABLE digits (d integer not null)",
      "INSERT INTO digits (d) VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)",
      "CREATE TABLE actions (action_id integer not null,action_data varchar(255),PRIMARY KEY(action_id))",
      "INSERT INTO actions (action_id,action_data) SELECT n,CASE WHEN n%2=0 THEN "
      "'Line one#0D#0Aline two #22quoted#22 100#25 done' ELSE 'a plain text without escapes' END FROM "
      "(SELECT a.d+10*b.d+100*c.d+1000*e.d+10000*f.d+100000*g.d+1000000*h.d AS n FROM digits a,digits "
      "b,digits "
      "c,digits e,digits f,digits g,digits h) t WHERE n<" +
          std::to_string(rows)};
  for (const std::string &s : setup)
    if (!Exec(db, s)) return false;
  long before = PeakKb();
  auto start = std::chrono::steady_clock::now();
  DBBegin(db);
  bool ok = RecodeColumnStrings("actions", "action_id", "action_data");
  DBCommit(db);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long after = PeakKb();
  std::string recoded = Value(db, "SELECT count(*) FROM actions WHERE action_data LIKE '%\"quoted\"%'");
  printf("%-14s rows %ld, recoded %s, %.2f s, %.0f rows/s, peak RSS %ld KB before, %ld KB after%s\n",
         label.c_str(), rows, recoded.c_str(), seconds, rows / seconds, before, after, ok ? "" : " (FAILED)");
  return ok && recoded == std::to_string(rows / 2 + rows % 2);
}

bool RunSqlite(db_driver_t driver, const std::string &label, int syntax, long rows) {
  char dir[] = "/tmp/recode_bench_XXXXXX";
  if (mkdtemp(dir) == nullptr) return false;
  std::string path = std::string(dir) + "/bench.db";
  char error[DBDRV_MAX_ERROR_TEXT];
  db_handle_t db = DBConnect(driver, "", path.c_str(), "", "", "", error);
  if (db == nullptr) {
    fprintf(stderr, "sqlite: %s\n", error);
    return false;
  }
  bool ok = Run(db, label, syntax, rows);
  DBDisconnect(db);
  unlink(path.c_str());
  rmdir(dir);
  return ok;
}

bool RunPgsql(db_driver_t driver, const std::string &label, int syntax, long rows) {
  const char *host = Env("TVDBMGR_TEST_PG_HOST", "127.0.0.1");
  const char *user = Env("TVDBMGR_TEST_USER", "tvtest");
  const char *password = Env("TVDBMGR_TEST_PASSWORD", "tvtest");
  char error[DBDRV_MAX_ERROR_TEXT];
  db_handle_t admin = DBConnect(driver, host, "postgres", user, password, "", error);
  if (admin == nullptr) {
    fprintf(stderr, "pgsql: %s\n", error);
    return false;
  }
  std::string name = "tvbench_recode_" + std::to_string(getpid());
  bool ok = Exec(admin, "CREATE DATABASE " + name);
  if (ok) {
    db_handle_t db = DBConnect(driver, host, name.c_str(), user, password, "", error);
    ok = db != nullptr && Run(db, label, syntax, rows);
    if (db == nullptr) fprintf(stderr, "pgsql: %s\n", error);
    if (db != nullptr) DBDisconnect(db);
    Exec(admin, "DROP DATABASE " + name);
  }
  DBDisconnect(admin);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  long rows = argc > 1 ? atol(argv[1]) : 1000000;
  std::vector<std::string> engines;
  for (int i = 2; i < argc; i++) engines.emplace_back(argv[i]);
  if (engines.empty()) engines = {"sqlite", "pgsql"};
  if (rows <= 0 || rows > 10000000) {
    fprintf(stderr, "rows must be 1..10000000\n");
    return 2;
  }
  DBInit(0, 0);
  bool ok = true;
  for (const std::string &label : engines) {
    bool rowwise = label.size() > 8 && label.compare(label.size() - 8, 8, "-rowwise") == 0;
    std::string engine = rowwise ? label.substr(0, label.size() - 8) : label;
    db_driver_t driver = DBLoadDriver(engine.c_str(), "", false, nullptr, nullptr);
    if (driver == nullptr || engine == "mysql") {
      fprintf(stderr, "unknown engine %s\n", label.c_str());
      return 2;
    }
    DBAllowDatabaseCreation(driver);  // the SQLite run starts from a new file
    bool pgsql = engine == "pgsql";
    int syntax = rowwise ? DB_SYNTAX_DB2 : pgsql ? DB_SYNTAX_PGSQL : DB_SYNTAX_SQLITE;
    ok = (pgsql ? RunPgsql(driver, label, syntax, rows) : RunSqlite(driver, label, syntax, rows)) && ok;
    DBUnloadDriver(driver);
  }
  return ok ? 0 : 1;
}
