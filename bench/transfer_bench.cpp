// Export and import of a database with 2,000,000 collected-data rows,
// side by side with the engines' own tools on the same data:
//   export  vs  sqlite3 src.db .dump | sqlite3 out.db
//   import into PostgreSQL  vs  psql \copy of the same rows
// The export and the dump pipeline run three times each, taking turns.
// Imports go into a freshly initialised database each time, three rounds
// per engine; with --baseline another tvdbmgr binary (an older build)
// imports in turns with this one, so that the two can be compared.
// --nodes spreads the rows over that many nodes, each with a
// collected-data table of its own; --port reaches the server engines on
// that port (a Galera node, a PostgreSQL primary with a standby).
// Usage: transfer_bench [rows] [--import-only] [--baseline <tvdbmgr>]
//                       [--engines pgsql,mysql,sqlite] [--nodes N] [--port P]
// (PostgreSQL and MariaDB as tvtest/tvtest on 127.0.0.1)
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "timed_command.h"

namespace {

using bench::TimedCommand;

const int kRounds = 3;

// --port: where the server engines are reached; empty for the default.
std::string ServerPort;

std::string Psql() {
  return "PGPASSWORD=tvtest psql -q -h 127.0.0.1 -U tvtest " +
         (ServerPort.empty() ? "" : "-p " + ServerPort + " ");
}

std::string Mariadb() {
  return "mariadb -h 127.0.0.1 -u tvtest -ptvtest " + (ServerPort.empty() ? "" : "-P " + ServerPort + " ");
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Report(const char *what, double seconds, long rows) {
  printf("%-48s %7.2f s  %10.0f rows/s\n", what, seconds, static_cast<double>(rows) / seconds);
  fflush(stdout);
}

// rows collected-data rows, spread over nodes 1..nodes.
void Fill(const std::string &path, long rows, long nodes) {
  sqlite3 *db;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (long node = 1; node <= nodes; node++) {
    const std::string id = std::to_string(node);
    sqlite3_exec(
        db,
        ("INSERT INTO nodes (id,community) VALUES (" + id +
         ",'public');"
         "CREATE TABLE idata_" +
         id + " (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255) null)")
            .c_str(),
        nullptr, nullptr, nullptr);
  }
  sqlite3_stmt *insert = nullptr;
  long tableNode = 0;
  for (long i = 0; i < rows; i++) {
    if (const long node = 1 + i * nodes / rows; node != tableNode) {
      sqlite3_finalize(insert);
      tableNode = node;
      sqlite3_prepare_v2(db, ("INSERT INTO idata_" + std::to_string(node) + " VALUES (?,?,?)").c_str(), -1,
                         &insert, nullptr);
    }
    char value[32];
    snprintf(value, sizeof(value), "%.3f", static_cast<double>(i % 100000) / 7.0);
    sqlite3_bind_int64(insert, 1, i % 500);
    sqlite3_bind_int64(insert, 2, 1700000000 + i / 500);
    sqlite3_bind_text(insert, 3, value, -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// A fresh, initialised target database of engine for the next import;
// returns the configuration file that points tvdbmgr at it.
std::string FreshTarget(const std::string &engine, const std::string &dir, const std::string &name) {
  const std::string tool = TVDBMGR_BINARY, sqlDir = TVDBMGR_SQL_DIR;
  const std::string config = dir + "/" + engine + ".conf";
  FILE *conf = fopen(config.c_str(), "w");
  if (engine == "sqlite") {
    std::filesystem::remove(dir + "/target.db");
    fprintf(conf, "DBDriver = sqlite\nDBName = %s/target.db\n", dir.c_str());
  } else {
    fprintf(conf, "DBDriver = %s\nDBServer = 127.0.0.1\nDBName = %s\nDBLogin = tvtest\nDBPassword = tvtest\n",
            engine.c_str(), name.c_str());
    if (!ServerPort.empty()) fprintf(conf, "DBDrvParams = port=%s\n", ServerPort.c_str());
  }
  fclose(conf);
  if (engine == "pgsql")
    TimedCommand(Psql() + "-d tvtest -c 'DROP DATABASE IF EXISTS " + name + "' -c \"CREATE DATABASE " + name +
                 " ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0\"");
  if (engine == "mysql")
    TimedCommand(Mariadb() + "-e 'DROP DATABASE IF EXISTS " + name + "; CREATE DATABASE " + name +
                 " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin'");
  TimedCommand(tool + " -c " + config + " init " + sqlDir + "/dbinit_" + engine + ".sql >/dev/null");
  return config;
}

void DropTarget(const std::string &engine, const std::string &name) {
  // Without FORCE: it would also have to end autovacuum workers, which
  // only a superuser may; a plain DROP waits for them to leave.
  if (engine == "pgsql") TimedCommand(Psql() + "-d tvtest -c 'DROP DATABASE " + name + "'");
  if (engine == "mysql") TimedCommand(Mariadb() + "-e 'DROP DATABASE " + name + "'");
}

// Imports file into a fresh database of engine, kRounds times with this
// build and, in turns, with the baseline binary when one is given.
void BenchImport(const std::string &engine, const std::string &file, const std::string &baseline,
                 const std::string &dir, long rows) {
  const std::string tool = TVDBMGR_BINARY;
  const std::string name = "tvbench_" + std::to_string(getpid());
  const std::string timeRss = "/usr/bin/time -f '    max RSS %M KB' ";
  std::vector<double> times, baseTimes;
  for (int round = 0; round < kRounds; round++) {
    std::string config = FreshTarget(engine, dir, name);
    times.push_back(TimedCommand(timeRss + tool + " -f -c " + config + " import " + file + " >/dev/null"));
    Report(("tvdbmgr import (file -> " + engine + ")").c_str(), times.back(), rows);
    if (baseline.empty()) continue;
    config = FreshTarget(engine, dir, name);
    baseTimes.push_back(
        TimedCommand(timeRss + baseline + " -f -c " + config + " import " + file + " >/dev/null"));
    Report(("baseline import (file -> " + engine + ")").c_str(), baseTimes.back(), rows);
  }
  Report(("median: tvdbmgr import into " + engine).c_str(), Median(times), rows);
  if (!baseline.empty()) {
    Report(("median: baseline import into " + engine).c_str(), Median(baseTimes), rows);
    printf("    this build takes %.2fx the time of the baseline\n", Median(times) / Median(baseTimes));
  }
  DropTarget(engine, name);
}

}  // namespace

int main(int argc, char **argv) {
  long rows = 2000000, nodes = 1;
  bool importOnly = false;
  std::string baseline;
  std::vector<std::string> engines = {"pgsql"};
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--import-only") {
      importOnly = true;
    } else if (arg == "--nodes" && i + 1 < argc) {
      nodes = atol(argv[++i]);
    } else if (arg == "--port" && i + 1 < argc) {
      ServerPort = argv[++i];
    } else if (arg == "--baseline" && i + 1 < argc) {
      baseline = argv[++i];
    } else if (arg == "--engines" && i + 1 < argc) {
      engines.clear();
      std::string list = argv[++i];
      for (size_t start = 0, comma; start <= list.size(); start = comma + 1) {
        comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        engines.push_back(list.substr(start, comma - start));
      }
    } else {
      rows = atol(arg.c_str());
    }
  }
  const std::string tool = TVDBMGR_BINARY, sqlDir = TVDBMGR_SQL_DIR;
  const std::string dir = "/tmp/tvdbmgr-transfer-bench-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string psql = Psql();
  const std::string pgdb = "tvbench_" + std::to_string(getpid());

  FILE *conf = fopen((dir + "/src.conf").c_str(), "w");
  fprintf(conf, "DBDriver = sqlite\nDBName = %s/src.db\n", dir.c_str());
  fclose(conf);

  TimedCommand(tool + " -c " + dir + "/src.conf init " + sqlDir + "/dbinit_sqlite.sql >/dev/null");
  Fill(dir + "/src.db", rows, nodes);
  printf("%ld collected-data rows in %ld node tables\n", rows, nodes);
  fflush(stdout);

  const std::string timeRss = "/usr/bin/time -f '    max RSS %M KB' ";
  if (importOnly) {
    TimedCommand(tool + " -c " + dir + "/src.conf export " + dir + "/out.db >/dev/null");
  } else {
    // The two take turns, so that a slow spell of the machine hits both;
    // the medians are compared.
    std::vector<double> exportTimes, dumpTimes;
    for (int round = 0; round < kRounds; round++) {
      exportTimes.push_back(
          TimedCommand(timeRss + tool + " -c " + dir + "/src.conf export " + dir + "/out.db >/dev/null"));
      Report("tvdbmgr export (SQLite -> file)", exportTimes.back(), rows);
      std::filesystem::remove(dir + "/dump.db");
      dumpTimes.push_back(TimedCommand("sqlite3 " + dir + "/src.db .dump | sqlite3 " + dir + "/dump.db"));
      Report("sqlite3 .dump | sqlite3", dumpTimes.back(), rows);
    }
    const double exportTime = Median(exportTimes), dumpTime = Median(dumpTimes);
    Report("median: tvdbmgr export", exportTime, rows);
    Report("median: sqlite3 .dump | sqlite3", dumpTime, rows);
    printf("    export is %.1fx faster\n", dumpTime / exportTime);
  }

  for (const std::string &engine : engines) BenchImport(engine, dir + "/out.db", baseline, dir, rows);

  if (!importOnly) {
    // The same rows and the same table with its index, loaded by psql.
    FreshTarget("pgsql", dir, pgdb);
    TimedCommand("sqlite3 -csv " + dir + "/out.db 'SELECT * FROM idata_1' > " + dir + "/rows.csv");
    TimedCommand(
        psql + "-d " + pgdb +
        " -c 'CREATE TABLE copy_1 (item_id integer not null,idata_timestamp integer not null,"
        "idata_value varchar(255) null)' -c 'CREATE INDEX idx_copy_1 ON copy_1(idata_timestamp,item_id)'");
    double copyTime = TimedCommand(psql + "-d " + pgdb + " -c '\\copy copy_1 FROM " + dir + "/rows.csv CSV'");
    Report("psql \\copy of the same rows (indexed table)", copyTime, rows);
    DropTarget("pgsql", pgdb);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
