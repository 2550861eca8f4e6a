#include "session/tool_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "session/server_role.h"
#include "session/sql_exec.h"

namespace {

// Session-level, so that it outlives the transactions of a run. The key
// is the ASCII of "tvdbmgr"; advisory locks belong to one database, so two
// schemas of one database share it, which errs on the safe side: a
// search path may reach into the schema of the other.
constexpr char kPgsqlLockQuery[] = "SELECT pg_try_advisory_lock(8392005329556566528)::int";
// GET_LOCK names are server-wide and at most 64 characters on MySQL, as
// long as a database name alone may be: the name holds its MD5.
constexpr char kMysqlLockQuery[] = "SELECT GET_LOCK(CONCAT('tvdbmgr:',MD5(DATABASE())),0)";

// "1" taken, "0" held by another session; a failed query or NULL (an
// error on the server) is neither.
bool TakeServerLock(db_handle_t hdb, const char *query) {
  TraceSql(query);
  char errorText[DBDRV_MAX_ERROR_TEXT];
  db_result_t result = DBSelectEx(hdb, query, errorText);
  if (result == nullptr) {
    ReportSqlError(errorText, query);
    return false;
  }
  std::string value;
  if (DBTakeFirstValue(result, value) && value == "1") return true;
  if (value == "0")
    ReportToolLockHeld();
  else
    ReportToolLockNotTaken(std::string("\"") + query + "\" returned " + (value.empty() ? "no value" : value));
  return false;
}

// The file the SQLite connection opened; empty for a database in memory
// or a temporary one, which nobody else can reach.
bool ConnectedFile(db_handle_t hdb, std::string &path) {
  Result list(DBSelect(hdb, "SELECT file FROM pragma_database_list WHERE name='main'"));
  if (list == nullptr) return false;
  std::unique_ptr<char, decltype(&free)> file(DBGetField(list.get(), 0, 0, nullptr, 0), free);
  path = file.get();
  return true;
}

bool IsSameFile(int fd, const char *path) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

}  // namespace

void ReportToolLockHeld() {
  fputs("tvdbmgr: another tvdbmgr is working on this database; try again when it has finished\n", stderr);
}

void ReportToolLockNotTaken(const std::string &reason) {
  fprintf(stderr, "tvdbmgr: cannot take the lock that keeps a second tvdbmgr off this database: %s\n",
          reason.c_str());
}

ToolLock::~ToolLock() {
  if (file_ >= 0) close(file_);
}

bool ToolLock::takeBeforeConnecting(db_driver_t driver, const char *dbName) {
  if (DBGetDriverEngine(driver) != DB_SYNTAX_SQLITE) return true;
  // O_NONBLOCK: a fifo of that name must not stall the open. Whatever
  // cannot be opened, or is no regular file, the connection reports.
  int fd = open(dbName, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return true;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return true;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    file_ = fd;
    return true;
  }
  const bool held = errno == EWOULDBLOCK;
  // No connection is open yet, so closing drops nobody's lock. Any other
  // failure take() meets again and reports.
  close(fd);
  if (held) ReportToolLockHeld();
  return !held;
}

bool ToolLock::take(db_handle_t hdb) {
  switch (DBGetEngine(hdb)) {
    case DB_SYNTAX_PGSQL: return TakeServerLock(hdb, kPgsqlLockQuery);
    case DB_SYNTAX_MYSQL:
      switch (IsGaleraNode(hdb)) {
        case ServerFact::kNo: return TakeServerLock(hdb, kMysqlLockQuery);
        case ServerFact::kYes: return cluster_.take(hdb);
        case ServerFact::kUnknown:
          ReportToolLockNotTaken("the server does not tell whether it is a node of a Galera cluster");
          return false;
      }
      return false;
    case DB_SYNTAX_SQLITE: break;
    default: return true;  // no lock that every such engine offers
  }
  std::string path;
  if (!ConnectedFile(hdb, path)) {
    ReportToolLockNotTaken("the name of the database file cannot be read");
    return false;
  }
  if (path.empty() || (file_ >= 0 && IsSameFile(file_, path.c_str()))) return true;
  // Nothing was locked before connecting (init has just created the
  // file), or the name opened then led elsewhere (an SQLite URI, a file
  // replaced meanwhile): that descriptor is not the database's, so
  // closing it leaves SQLite's locks alone.
  if (file_ >= 0) close(file_);
  file_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (file_ >= 0 && flock(file_, LOCK_EX | LOCK_NB) == 0) return true;
  const int failure = errno;
  if (file_ >= 0 && failure == EWOULDBLOCK)
    ReportToolLockHeld();
  else
    ReportToolLockNotTaken(path + ": " + strerror(failure));
  return false;
}
