// Times the two conversions of the upgrade that grow with the data: the
// log conversion of step 205 -> 206 (the question answered no, so the
// event, audit, syslog and trap logs are recoded) and the recoding of the
// collected text values of step 213 -> 214. Each runs as the step, in one
// transaction, on a database that holds only the tables the step touches,
// filled with N rows (half of them holding escaped characters):
//
//   - 205 -> 206: N log rows, a quarter in each of the four log tables;
//   - 213 -> 214: N collected values of 10 text items of one node, in its
//     table idata_1 with the index of the dialect's template.
//
//   build/bench/upgrade_recode_bench [rows] [engine...]   (default 1000000, all engines)
//
// "sqlite-rowwise", "pgsql-rowwise" and "mysql-rowwise" run the same steps
// with the dialect of the sixth engine, whose branches read all matching
// rows of a table (or an item) at once and write one UPDATE per row, as
// the steps are written: the baseline to compare with.
//
// Seeding and the step run in child processes of their own, forked before
// anything is loaded, so that the reported peak resident memory is the
// step's alone; beside it stands that of a process that only connects.
// PostgreSQL and MariaDB are reached as tvtest/tvtest on 127.0.0.1; an
// engine that does not answer is left out.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_process.h"
#include "db/db.h"
#include "session/batch.h"
#include "session/globals.h"
#include "upgrade/steps.h"

namespace {

const char kDatabase[] = "tvbench_upgrade_recode";
const int kItems = 10;

using Clock = std::chrono::steady_clock;

bool Exec(const std::string &sql) {
  char error[DBDRV_MAX_ERROR_TEXT];
  if (DBQueryEx(DbHandle, ExpandTypeMacros(sql.c_str()).cstr(), error)) return true;
  fprintf(stderr, "failed: %s\n%s\n", error, sql.c_str());
  return false;
}

std::string Value(const std::string &sql) {
  std::string value;
  DBTakeFirstValue(DBSelect(DbHandle, sql.c_str()), value);
  return value;
}

// The numbers 0 .. rows - 1 as a derived table t(n), made inside the
// engine from as many copies of the digits as rows needs.
std::string Numbers(long rows) {
  std::string sum = "d0.d", from = "digits d0";
  long scale = 10;
  for (int level = 1; scale < rows; level++, scale *= 10) {
    std::string d = "d" + std::to_string(level);
    sum += "+" + std::to_string(scale) + "*" + d + ".d";
    from += ",digits " + d;
  }
  return "(SELECT " + sum + " AS n FROM " + from + ") t WHERE n<" + std::to_string(rows);
}

const char kEscaped[] = "'Line one#0D#0Aline two #22quoted#22 100#25 done'";

bool SeedLogs(long rows) {
  long quarter = rows / 4;
  std::string text = std::string("CASE WHEN n%2=0 THEN ") + kEscaped + " ELSE 'a plain text' END";
  for (const std::string &s : {
           std::string("CREATE TABLE event_log (event_id $SQL:INT64 not null,event_message varchar(255),"
                       "user_tag varchar(63),PRIMARY KEY(event_id))"),
           std::string("CREATE TABLE audit_log (record_id integer not null,message $SQL:TEXT not null,"
                       "PRIMARY KEY(record_id))"),
           std::string("CREATE TABLE syslog (msg_id $SQL:INT64 not null,hostname varchar(127) not null,"
                       "msg_tag varchar(32) not null,msg_text $SQL:TEXT not null,PRIMARY KEY(msg_id))"),
           std::string(
               "CREATE TABLE snmp_trap_log (trap_id $SQL:INT64 not null,trap_varlist $SQL:TEXT not null,"
               "PRIMARY KEY(trap_id))"),
           "INSERT INTO event_log (event_id,event_message,user_tag) SELECT n," + text +
               ",CASE WHEN n%2=0 THEN 'tag#20one' ELSE '#00' END FROM " + Numbers(quarter),
           "INSERT INTO audit_log (record_id,message) SELECT n," + text + " FROM " + Numbers(quarter),
           "INSERT INTO syslog (msg_id,hostname,msg_tag,msg_text) SELECT n,'host','tag'," + text + " FROM " +
               Numbers(quarter),
           "INSERT INTO snmp_trap_log (trap_id,trap_varlist) SELECT n," + text + " FROM " +
               Numbers(rows - 3 * quarter),
       })
    if (!Exec(s)) return false;
  return true;
}

bool SeedCollectedValues(long rows) {
  std::string index = DbSyntax == DB_SYNTAX_PGSQL
                          ? "CREATE INDEX idx_idata_1_timestamp_id ON idata_1(idata_timestamp,item_id)"
                          : "CREATE INDEX idx_idata_1_id_timestamp ON idata_1(item_id,idata_timestamp)";
  std::vector<std::string> statements = {
      "CREATE TABLE nodes (id integer not null,PRIMARY KEY(id))",
      "INSERT INTO nodes (id) VALUES (1)",
      "CREATE TABLE items (item_id integer not null,node_id integer not null,datatype integer not null,"
      "PRIMARY KEY(item_id))",
      "CREATE TABLE script_library (script_id integer not null,script_code $SQL:TEXT not null,"
      "PRIMARY KEY(script_id))",
      "CREATE TABLE raw_dci_values (item_id integer not null,raw_value varchar(255),PRIMARY KEY(item_id))",
      "CREATE TABLE idata_1 (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255))",
      // Item i takes the values n with n % 100 == i, one per time stamp.
      "INSERT INTO items (item_id,node_id,datatype) SELECT n,1,4 FROM " + Numbers(kItems),
      "INSERT INTO idata_1 (item_id,idata_timestamp,idata_value) SELECT n%" + std::to_string(kItems) +
          ",1262304000+n/" + std::to_string(kItems) +
          ",CASE WHEN n%2=0 THEN 'v#41#0D#0A' ELSE '12345' END FROM " + Numbers(rows),
      index,
  };
  for (const std::string &s : statements)
    if (!Exec(s)) return false;
  return true;
}

int Seed(const std::string &engine, const std::string &database, int from, long rows) {
  bench::Connection c(engine, database);
  if (c.handle == nullptr) return 1;
  DbHandle = c.handle;
  DbSyntax = DBGetEngine(c.handle);
  const char *syntax = DbSyntax == DB_SYNTAX_PGSQL   ? "PGSQL"
                       : DbSyntax == DB_SYNTAX_MYSQL ? "MYSQL"
                                                     : "SQLITE";
  bool ok =
      Exec(
          "CREATE TABLE metadata (var_name varchar(63) not null,var_value varchar(255) not null,"
          "PRIMARY KEY(var_name))") &&
      Exec(std::string("INSERT INTO metadata (var_name,var_value) VALUES ('Syntax','") + syntax + "')") &&
      Exec("INSERT INTO metadata (var_name,var_value) VALUES ('SchemaVersion','" + std::to_string(from) +
           "')") &&
      Exec("CREATE TABLE digits (d integer not null)") &&
      Exec("INSERT INTO digits (d) VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)") &&
      (from == 205 ? SeedLogs(rows) : SeedCollectedValues(rows));
  if (ok && engine == "pgsql") DBQuery(c.handle, "ANALYZE");
  return ok ? 0 : 1;
}

// The step in this (child) process, as the upgrade runs it: one
// transaction, the question of 205 -> 206 answered no by the end of input.
int Step(const std::string &engine, const std::string &database, int from, bool rowwise) {
  int none = open("/dev/null", O_RDONLY);
  dup2(none, STDIN_FILENO);
  close(none);
  int quiet = open("/dev/null", O_WRONLY);
  dup2(quiet, STDOUT_FILENO);
  close(quiet);
  bench::Connection c(engine, database);
  if (c.handle == nullptr) return 1;
  DbHandle = c.handle;
  DbSyntax = rowwise ? DB_SYNTAX_DB2 : DBGetSyntax(c.handle);
  DBBegin(c.handle);
  if (RunUpgradeStep(*FindUpgradeStep(from), from) == 0) {
    DBRollback(c.handle);
    return 2;
  }
  return DBCommit(c.handle) ? 0 : 3;
}

// Rows that still hold "#" after the step, which leaves none.
std::string Left(const std::string &engine, const std::string &database, int from) {
  bench::Connection c(engine, database);
  if (c.handle == nullptr) return "?";
  DbHandle = c.handle;
  if (from == 213) return Value("SELECT count(*) FROM idata_1 WHERE idata_value LIKE '%#%'");
  long left = 0;
  for (const char *query :
       {"SELECT count(*) FROM event_log WHERE event_message LIKE '%#%' OR user_tag LIKE '%#%'",
        "SELECT count(*) FROM audit_log WHERE message LIKE '%#%'",
        "SELECT count(*) FROM syslog WHERE msg_text LIKE '%#%'",
        "SELECT count(*) FROM snmp_trap_log WHERE trap_varlist LIKE '%#%'"})
    left += atol(Value(query).c_str());
  return std::to_string(left);
}

void Bench(const std::string &label, int from, long rows) {
  bool rowwise = label.ends_with("-rowwise");
  std::string engine = rowwise ? label.substr(0, label.size() - 8) : label;
  std::string database = engine == "sqlite" ? "/tmp/" + std::string(kDatabase) + ".db" : kDatabase;
  if (engine == "sqlite") {
    unlink(database.c_str());
  } else {
    std::string create = "CREATE DATABASE " + database;
    if (engine == "mysql") create += " CHARACTER SET utf8mb4";
    if (!bench::Admin(engine, kDatabase, create)) return;
  }
  rusage usage{};
  Clock::time_point seedStart = Clock::now();
  if (bench::InChild([&] { return Seed(engine, database, from, rows); }, usage) != 0) {
    fprintf(stderr, "%s: seeding failed\n", engine.c_str());
    return;
  }
  double seedSeconds = std::chrono::duration<double>(Clock::now() - seedStart).count();
  bench::InChild(
      [&] {
        bench::Connection c(engine, database);
        return c.handle == nullptr ? 1 : 0;
      },
      usage);
  long floorKb = usage.ru_maxrss;
  Clock::time_point start = Clock::now();
  int code = bench::InChild([&] { return Step(engine, database, from, rowwise); }, usage);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  printf(
      "%-14s %d -> %d  rows %8ld  seed %6.1f s  step %7.1f s  %9.0f rows/s  peak %6ld KiB (connected %ld)  "
      "left with #: %s%s\n",
      label.c_str(), from, from + 1, rows, seedSeconds, seconds, rows / seconds, usage.ru_maxrss, floorKb,
      Left(engine, database, from).c_str(), code == 0 ? "" : "  FAILED");
  fflush(stdout);
  if (engine == "sqlite")
    unlink(database.c_str());
  else
    bench::Admin(engine, kDatabase, "");
}

}  // namespace

int main(int argc, char **argv) {
  long rows = argc > 1 ? atol(argv[1]) : 1000000;
  if (rows < 4 || rows > 10000000) {
    fprintf(stderr, "rows must be 4..10000000\n");
    return 2;
  }
  std::vector<std::string> engines;
  for (int i = 2; i < argc; i++) engines.push_back(argv[i]);
  if (engines.empty()) engines = {"sqlite", "pgsql", "mysql"};
  DBInit(0, 0);
  for (const std::string &engine : engines)
    for (int from : {205, 213}) Bench(engine, from, rows);
  return 0;
}
