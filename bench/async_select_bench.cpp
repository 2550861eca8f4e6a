// Reads N rows through DBAsyncSelectEx on each engine and reports rows/s
// and the peak resident memory of the reading process, for several N: a
// flat peak shows that unbuffered reads do not grow with the table.
//
//   build/bench/async_select_bench [rows...]      (default 100000 1000000)
//
// PostgreSQL and MariaDB are reached as tvtest/tvtest on 127.0.0.1; an
// engine that does not answer is left out.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "db/db.h"

namespace {

struct Engine {
  const char *driver;
  const char *server;
  std::string database;
  const char *fill;  // statement that fills t(id, v) with %d rows
};

db_handle_t Connect(const Engine &e, const std::string &database, db_driver_t &driver, bool create = false) {
  driver = DBLoadDriver(e.driver, "", false, nullptr, nullptr);
  if (create) DBAllowDatabaseCreation(driver);
  char error[DBDRV_MAX_ERROR_TEXT];
  db_handle_t h = DBConnect(driver, e.server, database.c_str(), "tvtest", "tvtest", "", error);
  if (h == nullptr) {
    fprintf(stderr, "%s: %s\n", e.driver, error);
    DBUnloadDriver(driver);
  }
  return h;
}

bool Prepare(const Engine &e, int rows) {
  db_driver_t driver;
  if (std::string(e.driver) != "sqlite") {
    db_handle_t admin = Connect(e, "tvtest", driver);
    if (admin == nullptr) return false;
    DBQuery(admin, ("DROP DATABASE IF EXISTS " + e.database).c_str());
    DBQuery(admin, ("CREATE DATABASE " + e.database).c_str());
    DBDisconnect(admin);
    DBUnloadDriver(driver);
  } else {
    unlink(e.database.c_str());
  }
  db_handle_t h = Connect(e, e.database, driver, true);
  if (h == nullptr) return false;
  char sql[512];
  snprintf(sql, sizeof(sql), e.fill, rows);
  char error[DBDRV_MAX_ERROR_TEXT];
  bool ok = DBQueryEx(h, "CREATE TABLE t (id integer not null, v varchar(64), PRIMARY KEY(id))", error) &&
            DBQueryEx(h, sql, error);
  if (!ok) fprintf(stderr, "%s: %s\n", e.driver, error);
  DBDisconnect(h);
  DBUnloadDriver(driver);
  return ok;
}

// Runs in a child process so that its peak memory is its own.
void Read(const Engine &e, int rows) {
  db_driver_t driver;
  db_handle_t h = Connect(e, e.database, driver);
  if (h == nullptr) _exit(2);
  char sql[128];
  snprintf(sql, sizeof(sql), "SELECT id,v FROM t WHERE id<=%d", rows);
  auto start = std::chrono::steady_clock::now();
  char error[DBDRV_MAX_ERROR_TEXT];
  db_async_result_t r = DBAsyncSelectEx(h, sql, error);
  if (r == nullptr) _exit(3);
  long count = 0, bytes = 0;
  while (DBFetch(r)) {
    size_t len;
    DBGetFieldAsyncData(r, 1, &len);
    bytes += static_cast<long>(len) + DBGetFieldAsyncLong(r, 0) % 2;
    count++;
  }
  DBFreeAsyncResult(r);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  DBDisconnect(h);
  DBUnloadDriver(driver);
  printf("  %-7s %9ld rows  %6.2f s  %10.0f rows/s", e.driver, count, seconds, count / seconds);
  fflush(stdout);
  _exit(count == rows ? 0 : 4);
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; i++) sizes.push_back(atoi(argv[i]));
  if (sizes.empty()) sizes = {100000, 1000000};
  int maxRows = 0;
  for (int n : sizes) maxRows = std::max(maxRows, n);

  Engine engines[] = {
      {"sqlite", "", "/tmp/tvdbmgr_bench_async.db",
       "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM s WHERE i<%d) "
       "INSERT INTO t SELECT i, printf('value-%%08d-abcdefghijklmnopqrstuvwxyz', i) FROM s"},
      {"pgsql", "127.0.0.1", "tvbench_async",
       "INSERT INTO t SELECT g, 'value-' || lpad(g::text, 8, '0') || '-abcdefghijklmnopqrstuvwxyz' "
       "FROM generate_series(1,%d) g"},
      {"mysql", "127.0.0.1", "tvbench_async",
       "INSERT INTO t SELECT seq, concat('value-', lpad(seq, 8, '0'), '-abcdefghijklmnopqrstuvwxyz') "
       "FROM seq_1_to_%d"},
  };
  for (const Engine &e : engines) {
    if (!Prepare(e, maxRows)) continue;
    for (int n : sizes) {
      fflush(stdout);
      pid_t pid = fork();
      if (pid == 0) Read(e, n);
      int status;
      struct rusage usage;
      wait4(pid, &status, 0, &usage);
      printf("  peak RSS %6ld KiB%s\n", usage.ru_maxrss,
             WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "  (FAILED)");
    }
  }
  unlink(engines[0].database.c_str());
  return 0;
}
