// Reads N rows through DBAsyncSelectEx on PostgreSQL, once with the
// native driver and once through ODBC (the data source tvtest_pg), and
// reports rows/s and the peak resident memory of the reading process.
//
//   build/bench/odbc_select_bench [rows]          (default 1000000)
//
// PostgreSQL is reached as tvtest/tvtest on 127.0.0.1.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/db.h"

namespace {

const char kDatabase[] = "tvbench_odbc";

struct Road {
  const char *label;
  const char *driver;
  const char *params;
  std::string database;
};

db_handle_t Connect(const Road &road, db_driver_t &driver) {
  driver = DBLoadDriver(road.driver, road.params, false, nullptr, nullptr);
  char error[DBDRV_MAX_ERROR_TEXT] = "";
  db_handle_t h = driver != nullptr
                      ? DBConnect(driver, "127.0.0.1", road.database.c_str(), "tvtest", "tvtest", "", error)
                      : nullptr;
  if (h == nullptr) {
    fprintf(stderr, "%s: %s\n", road.label, error);
    if (driver != nullptr) DBUnloadDriver(driver);
  }
  return h;
}

bool Fill(int rows) {
  db_driver_t driver;
  db_handle_t admin = Connect({"admin", "pgsql", "", "tvtest"}, driver);
  if (admin == nullptr) return false;
  DBQuery(admin, (std::string("DROP DATABASE IF EXISTS ") + kDatabase).c_str());
  DBQuery(admin, (std::string("CREATE DATABASE ") + kDatabase).c_str());
  DBDisconnect(admin);
  DBUnloadDriver(driver);
  db_handle_t h = Connect({"fill", "pgsql", "", kDatabase}, driver);
  if (h == nullptr) return false;
  char sql[512];
  snprintf(sql, sizeof(sql),
           "INSERT INTO t SELECT g, 'value-' || lpad(g::text, 8, '0') || '-abcdefghijklmnopqrstuvwxyz' "
           "FROM generate_series(1,%d) g",
           rows);
  char error[DBDRV_MAX_ERROR_TEXT];
  bool ok = DBQueryEx(h, "CREATE TABLE t (id integer not null, v varchar(64), PRIMARY KEY(id))", error) &&
            DBQueryEx(h, sql, error);
  if (!ok) fprintf(stderr, "fill: %s\n", error);
  DBDisconnect(h);
  DBUnloadDriver(driver);
  return ok;
}

// Runs in a child process so that its peak memory is its own.
void Read(const Road &road, int rows) {
  db_driver_t driver;
  db_handle_t h = Connect(road, driver);
  if (h == nullptr) _exit(2);
  char sql[128];
  snprintf(sql, sizeof(sql), "SELECT id,v FROM t WHERE id<=%d", rows);
  auto start = std::chrono::steady_clock::now();
  char error[DBDRV_MAX_ERROR_TEXT];
  db_async_result_t r = DBAsyncSelectEx(h, sql, error);
  if (r == nullptr) {
    fprintf(stderr, "%s: %s\n", road.label, error);
    _exit(3);
  }
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
  printf("  %-16s %9ld rows  %6.2f s  %10.0f rows/s", road.label, count, seconds, count / seconds);
  fflush(stdout);
  _exit(count == rows ? 0 : 4);
}

}  // namespace

int main(int argc, char **argv) {
  const int rows = argc > 1 ? atoi(argv[1]) : 1000000;
  if (!Fill(rows)) return 1;
  const std::string dsn = std::string("DSN=tvtest_pg;DATABASE=") + kDatabase;
  const Road roads[] = {
      {"native (pgsql)", "pgsql", "", kDatabase},
      {"ODBC (psqlodbc)", "odbc", "", dsn},
  };
  for (const Road &road : roads) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) Read(road, rows);
    int status;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    printf("  peak RSS %7ld KiB%s\n", usage.ru_maxrss,
           WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "  (FAILED)");
  }
  db_driver_t driver;
  if (db_handle_t admin = Connect({"admin", "pgsql", "", "tvtest"}, driver)) {
    DBQuery(admin, (std::string("DROP DATABASE IF EXISTS ") + kDatabase).c_str());
    DBDisconnect(admin);
    DBUnloadDriver(driver);
  }
  return 0;
}
