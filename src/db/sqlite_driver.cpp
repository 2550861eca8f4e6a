// SQLite driver: DBName is the database file, which must exist unless
// the caller allowed its creation. DBDrvParams accepts busy_timeout=<ms>
// (default 10000) and journal_mode=<mode>.
#include <sqlite3.h>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/db.h"
#include "db/db_driver.h"
#include "db/driver_params.h"

namespace {

// The text of a column value. SQLite writes a real with 15 significant
// digits, which loses the last digits of some doubles; such a value is
// written again with as many digits as it needs to read back exactly.
// Returns null for NULL; a rewritten value lives in scratch.
const char *ColumnText(sqlite3_stmt *stmt, int column, std::string &scratch, size_t *length) {
  bool isReal = sqlite3_column_type(stmt, column) == SQLITE_FLOAT;
  double real = isReal ? sqlite3_column_double(stmt, column) : 0;
  const char *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
  *length = text != nullptr ? static_cast<size_t>(sqlite3_column_bytes(stmt, column)) : 0;
  if (!isReal || text == nullptr || strtod(text, nullptr) == real) return text;
  char buffer[32];
  for (int digits = 16; digits <= 17; digits++) {
    snprintf(buffer, sizeof(buffer), "%.*g", digits, real);
    if (strtod(buffer, nullptr) == real) break;
  }
  scratch = buffer;
  *length = scratch.size();
  return scratch.c_str();
}

class SqliteStatement final : public DbStatement {
 public:
  SqliteStatement(sqlite3 *db, sqlite3_stmt *stmt) : db_(db), stmt_(stmt) {}
  ~SqliteStatement() override { sqlite3_finalize(stmt_); }

  bool bind(int pos, const char *value, size_t length) override {
    int rc = value == nullptr
                 ? sqlite3_bind_null(stmt_, pos)
                 : sqlite3_bind_text(stmt_, pos, value, static_cast<int>(length), SQLITE_TRANSIENT);
    return rc == SQLITE_OK;
  }
  bool execute(std::string &error) override {
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
    }
    return finish(rc, error);
  }
  bool select(DbResultData &result, std::string &error) override {
    int columns = sqlite3_column_count(stmt_);
    result.columns = columns;
    for (int i = 0; i < columns; i++) result.names.emplace_back(sqlite3_column_name(stmt_, i));
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
      std::string scratch;
      for (int i = 0; i < columns; i++) {
        size_t length;
        const char *text = ColumnText(stmt_, i, scratch, &length);
        result.addCell(text, length);
      }
      result.rows++;
    }
    return finish(rc, error);
  }

 private:
  bool finish(int rc, std::string &error) {
    bool ok = rc == SQLITE_DONE;
    if (!ok) error = sqlite3_errmsg(db_);
    // Bound values stay for the next execution, as on the other engines.
    sqlite3_reset(stmt_);
    return ok;
  }
  sqlite3 *db_;
  sqlite3_stmt *stmt_;
};

class SqliteCursor final : public DbCursor {
 public:
  SqliteCursor(sqlite3 *db, sqlite3_stmt *stmt) : db_(db), stmt_(stmt) {}
  ~SqliteCursor() override { sqlite3_finalize(stmt_); }
  bool fetch(std::string &error) override {
    if (done_) return false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    done_ = true;
    if (rc != SQLITE_DONE) error = sqlite3_errmsg(db_);
    return false;
  }
  int columnCount() override { return sqlite3_column_count(stmt_); }
  const char *columnName(int column) override { return sqlite3_column_name(stmt_, column); }
  const char *value(int column, size_t *length) override {
    if (scratch_.empty()) scratch_.resize(static_cast<size_t>(columnCount()));
    if (column < 0 || column >= columnCount()) {
      *length = 0;
      return nullptr;
    }
    return ColumnText(stmt_, column, scratch_[static_cast<size_t>(column)], length);
  }
  bool integer(int column, int64_t *value) override {
    if (sqlite3_column_type(stmt_, column) != SQLITE_INTEGER) return false;
    *value = sqlite3_column_int64(stmt_, column);
    return true;
  }

 private:
  sqlite3 *db_;
  sqlite3_stmt *stmt_;
  bool done_ = false;
  std::vector<std::string> scratch_;  // rewritten reals of the current row, per column
};

class SqliteConnection final : public DbConnection {
 public:
  explicit SqliteConnection(sqlite3 *db) : db_(db) {}
  ~SqliteConnection() override { sqlite3_close_v2(db_); }

  bool execute(const char *query, std::string &error) override {
    // Runs every statement of the text, as the engine's own shell would.
    char *message = nullptr;
    if (sqlite3_exec(db_, query, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
  }
  bool select(const char *query, DbResultData &result, std::string &error) override {
    sqlite3_stmt *stmt = compile(query, error);
    if (stmt == nullptr) return false;
    SqliteStatement s(db_, stmt);
    return s.select(result, error);
  }
  std::unique_ptr<DbCursor> openCursor(const char *query, std::string &error) override {
    sqlite3_stmt *stmt = compile(query, error);
    if (stmt == nullptr) return nullptr;
    return std::make_unique<SqliteCursor>(db_, stmt);
  }
  std::unique_ptr<DbStatement> prepare(const char *query, std::string &error) override {
    sqlite3_stmt *stmt = compile(query, error);
    if (stmt == nullptr) return nullptr;
    return std::make_unique<SqliteStatement>(db_, stmt);
  }
  bool begin(std::string &error) override { return execute("BEGIN", error); }
  bool commit(std::string &error) override { return execute("COMMIT", error); }
  bool rollback(std::string &error) override { return execute("ROLLBACK", error); }

 private:
  // A text holding only white space compiles to no statement; it is run
  // as a statement that returns nothing. A second statement after the
  // first is refused rather than silently left out.
  sqlite3_stmt *compile(const char *query, std::string &error) {
    sqlite3_stmt *stmt = nullptr;
    const char *tail = nullptr;
    if (sqlite3_prepare_v2(db_, query, -1, &stmt, &tail) != SQLITE_OK) {
      error = sqlite3_errmsg(db_);
      return nullptr;
    }
    if (stmt != nullptr && tail != nullptr && *tail != 0) {
      sqlite3_stmt *next = nullptr;
      int rc = sqlite3_prepare_v2(db_, tail, -1, &next, nullptr);
      bool more = rc != SQLITE_OK || next != nullptr;
      if (rc != SQLITE_OK) error = sqlite3_errmsg(db_);
      sqlite3_finalize(next);
      if (more) {
        sqlite3_finalize(stmt);
        if (rc == SQLITE_OK) error = "only one statement is allowed here";
        return nullptr;
      }
    }
    if (stmt == nullptr && sqlite3_prepare_v2(db_, "SELECT 1 WHERE 0", -1, &stmt, nullptr) != SQLITE_OK) {
      error = sqlite3_errmsg(db_);
      return nullptr;
    }
    return stmt;
  }
  sqlite3 *db_;
};

}  // namespace

std::string PlainFilePath(const std::string &path) { return path.starts_with('/') ? path : "./" + path; }

bool IsSqliteFileName(const std::string &name, std::string &error) {
  if (name.empty() || name == ":memory:")
    error = "DBName \"" + name +
            "\" names no file: SQLite would keep the database in memory or in a temporary file";
  else if (strncasecmp(name.c_str(), "file:", 5) == 0)
    error = "DBName \"" + name + "\" is a URI: give the path of the database file";
  else
    return true;
  return false;
}

std::unique_ptr<DbConnection> SqliteConnect(const DbConnectParams &params, std::string &error) {
  unsigned busyTimeout = 10000;
  std::string journalMode;
  for (const auto &[key, value] : params.options) {
    if (key == "busy_timeout") {
      if (!ParseDriverNumber("SQLite", key, value, 0, INT_MAX, busyTimeout, error)) return nullptr;
    } else if (key == "journal_mode") {
      journalMode = value;
    } else {
      error = "unknown SQLite driver parameter \"" + key + "\"";
      return nullptr;
    }
  }
  if (!IsSqliteFileName(params.database, error)) return nullptr;
  // The open itself refuses to create the file unless asked to, so that
  // no test-then-open gap remains.
  sqlite3 *db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (params.createDatabase ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(PlainFilePath(params.database).c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    if (!params.createDatabase && (rc & 0xFF) == SQLITE_CANTOPEN && db != nullptr &&
        sqlite3_system_errno(db) == ENOENT)
      error = "database file does not exist (only the init command creates it)";
    else
      error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, static_cast<int>(busyTimeout));
  auto conn = std::make_unique<SqliteConnection>(db);
  // Reading the schema proves that the file is a database at all.
  if (!conn->execute("SELECT count(*) FROM sqlite_master", error)) return nullptr;
  if (!journalMode.empty() && !conn->execute(("PRAGMA journal_mode=" + journalMode).c_str(), error))
    return nullptr;
  return conn;
}
