#include "db/db.h"

#include <strings.h>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "db/db_driver.h"

struct db_driver_s {
  int engine;  // DB_SYNTAX_*; through ODBC known only once connected
  bool odbc = false;
  std::vector<std::pair<std::string, std::string>> options;
  bool createDatabase = false;
};

struct db_handle_s {
  db_handle_s(int e, bool o, DbConnectParams p, std::unique_ptr<DbConnection> c)
      : engine(e), odbc(o), params(std::move(p)), conn(std::move(c)) {}
  int engine;
  bool odbc;
  DbConnectParams params;  // for DBConnectAgain
  std::unique_ptr<DbConnection> conn;
  std::string lastError;
  bool enclosing = false;  // DBBeginEnclosing: transactions are savepoints
  bool inTransaction = false;
  bool aborted = false;  // the server ended the transaction (DBGetTransactionAbort)
  std::string abortReason;
  int failureCode = 0;  // of the last failure, for DBGetErrorCode
  std::string failureText;
};

struct db_result_s : DbResultData {};

struct db_async_result_s {
  db_handle_t hdb;
  std::unique_ptr<DbCursor> cursor;
  std::string error;
  bool failed = false;
};

struct db_statement_s {
  db_handle_t hdb;
  std::unique_ptr<DbStatement> stmt;
};

namespace {

void SetError(char *errorText, const std::string &message) {
  if (errorText == nullptr) return;
  size_t n = std::min(message.size(), static_cast<size_t>(DBDRV_MAX_ERROR_TEXT - 1));
  memcpy(errorText, message.data(), n);
  errorText[n] = 0;
}

// Cuts text to size - 1 bytes without splitting a UTF-8 character.
char *CopyCut(const char *value, size_t length, char *buffer, size_t size) {
  if (buffer == nullptr) {
    char *copy = static_cast<char *>(malloc(length + 1));
    if (copy == nullptr) abort();
    memcpy(copy, value, length);
    copy[length] = 0;
    return copy;
  }
  if (size == 0) return buffer;
  size_t n = std::min(length, size - 1);
  if (n < length)
    while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) n--;
  memcpy(buffer, value, n);
  buffer[n] = 0;
  return buffer;
}

// After a failed call: its number, and whether it ended the open
// transaction.
void NoteFailure(db_handle_t hdb, const std::string &error) {
  hdb->failureCode = hdb->conn->failureCode();
  hdb->failureText = error.substr(0, DBDRV_MAX_ERROR_TEXT - 1);
  if (!hdb->inTransaction || hdb->aborted || !hdb->conn->failureEndedTransaction()) return;
  hdb->aborted = true;
  hdb->abortReason = error;
}

// Passes ok through, noting a failure.
bool Noted(db_handle_t hdb, bool ok, const std::string &error) {
  if (!ok) NoteFailure(hdb, error);
  return ok;
}

// True, with the error set, when a statement must not be sent because
// the server has ended the transaction it would belong to.
bool RefusedAfterAbort(db_handle_t hdb, std::string &error) {
  if (!hdb->inTransaction || !hdb->aborted) return false;
  error = "not sent: the server has rolled back the transaction (" + hdb->abortReason + ")";
  return true;
}

const char *Cell(db_result_t r, int row, int column, size_t *length) {
  *length = 0;
  if (r == nullptr || row < 0 || row >= r->rows || column < 0 || column >= r->columns) return nullptr;
  size_t i = r->cellIndex(row, column);
  if (r->nulls[i]) return nullptr;
  *length = r->offsets[i + 1] - r->offsets[i] - 1;
  return r->data.c_str() + r->offsets[i];
}

int SyntaxFromName(const char *name) {
  static const struct {
    const char *name;
    int code;
  } kNames[] = {{"MYSQL", DB_SYNTAX_MYSQL},   {"PGSQL", DB_SYNTAX_PGSQL},   {"MSSQL", DB_SYNTAX_MSSQL},
                {"ORACLE", DB_SYNTAX_ORACLE}, {"SQLITE", DB_SYNTAX_SQLITE}, {"DB2", DB_SYNTAX_DB2}};
  for (const auto &n : kNames)
    if (strcmp(name, n.name) == 0) return n.code;
  return DB_SYNTAX_UNKNOWN;
}

}  // namespace

bool ParseDriverOptions(const char *text, std::vector<std::pair<std::string, std::string>> &out) {
  std::string s = text != nullptr ? text : "";
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ';' || isspace(static_cast<unsigned char>(s[i])))) i++;
    if (i >= s.size()) break;
    size_t end = i;
    while (end < s.size() && s[end] != ';' && !isspace(static_cast<unsigned char>(s[end]))) end++;
    std::string item = s.substr(i, end - i);
    size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    out.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    i = end;
  }
  return true;
}

bool DBInit(int, int) { return true; }

namespace {

// The engine of a driver module name; false for an unknown module.
bool EngineOfModule(const char *module, int &engine) {
  if (module == nullptr) return false;
  const char *base = strrchr(module, '/');
  std::string name = base != nullptr ? base + 1 : module;
  if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".ddr") == 0)
    name.resize(name.size() - 4);
  if (strcasecmp(name.c_str(), "sqlite") == 0)
    engine = DB_SYNTAX_SQLITE;
  else if (strcasecmp(name.c_str(), "pgsql") == 0)
    engine = DB_SYNTAX_PGSQL;
  else if (strcasecmp(name.c_str(), "mysql") == 0 || strcasecmp(name.c_str(), "mariadb") == 0)
    engine = DB_SYNTAX_MYSQL;
  else if (strcasecmp(name.c_str(), "odbc") == 0)
    engine = DB_SYNTAX_UNKNOWN;
  else
    return false;
  return true;
}

}  // namespace

db_driver_t DBLoadDriver(const char *module, const char *initParameters, bool, void *, void *) {
  int engine;
  if (!EngineOfModule(module, engine)) return nullptr;
  auto driver = std::make_unique<db_driver_s>();
  driver->engine = engine;
  driver->odbc = engine == DB_SYNTAX_UNKNOWN;
  if (!ParseDriverOptions(initParameters, driver->options)) return nullptr;
  return driver.release();
}

void DBUnloadDriver(db_driver_t driver) { delete driver; }

bool DBCheckDatabaseName(const char *module, const char *dbName, std::string &error) {
  int engine;
  return !EngineOfModule(module, engine) || engine != DB_SYNTAX_SQLITE ||
         IsSqliteFileName(dbName != nullptr ? dbName : "", error);
}

void DBAllowDatabaseCreation(db_driver_t driver) { driver->createDatabase = true; }

int DBGetDriverEngine(db_driver_t driver) { return driver->odbc ? DB_SYNTAX_UNKNOWN : driver->engine; }

namespace {

db_handle_t OpenConnection(const DbConnectParams &p, bool odbc, int engine, char *errorText) {
  std::string error;
  std::unique_ptr<DbConnection> conn;
  if (odbc) {
    conn = OdbcConnect(p, engine, error);
  } else {
    switch (engine) {
      case DB_SYNTAX_SQLITE: conn = SqliteConnect(p, error); break;
      case DB_SYNTAX_PGSQL: conn = PgsqlConnect(p, error); break;
      case DB_SYNTAX_MYSQL: conn = MysqlConnect(p, error); break;
    }
  }
  if (conn == nullptr) {
    SetError(errorText, error);
    return nullptr;
  }
  return new db_handle_s{engine, odbc, p, std::move(conn)};
}

}  // namespace

db_handle_t DBConnect(db_driver_t driver, const char *server, const char *dbName, const char *login,
                      const char *password, const char *schema, char *errorText) {
  DbConnectParams p{server != nullptr ? server : "", dbName != nullptr ? dbName : "",
                    login != nullptr ? login : "",   password != nullptr ? password : "",
                    schema != nullptr ? schema : "", driver->options,
                    driver->createDatabase};
  return OpenConnection(p, driver->odbc, driver->engine, errorText);
}

db_handle_t DBConnectAgain(db_handle_t hdb, char *errorText) {
  DbConnectParams p = hdb->params;
  p.createDatabase = false;  // the first connection has found or made it
  return OpenConnection(p, hdb->odbc, hdb->odbc ? DB_SYNTAX_UNKNOWN : hdb->engine, errorText);
}

void DBDisconnect(db_handle_t hdb) { delete hdb; }

db_handle_t DBAttachConnection(int engine, std::unique_ptr<DbConnection> conn) {
  return new db_handle_s{engine, false, DbConnectParams(), std::move(conn)};
}

int DBGetEngine(db_handle_t hdb) { return hdb->engine; }

bool DBStreamsRows(db_handle_t hdb) { return hdb->conn->streamsRows(); }

int DBGetSyntax(db_handle_t hdb) {
  std::string value;
  if (!DBTakeFirstValue(DBSelect(hdb, "SELECT var_value FROM metadata WHERE var_name='Syntax'"), value)) {
    if (!DBTakeFirstValue(DBSelect(hdb, "SELECT var_value FROM config WHERE var_name='DBSyntax'"), value))
      return DB_SYNTAX_UNKNOWN;
    DecodeSQLString(value.data());
    value.resize(strlen(value.c_str()));
  }
  return SyntaxFromName(value.c_str());
}

int DBGetSchemaVersion(db_handle_t hdb) {
  std::string value;
  if (DBTakeFirstValue(DBSelect(hdb, "SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), value))
    return atoi(value.c_str());
  if (DBTakeFirstValue(DBSelect(hdb, "SELECT var_value FROM config WHERE var_name='DBFormatVersion'"),
                       value)) {
    DecodeSQLString(value.data());
    return atoi(value.c_str());
  }
  return 0;
}

bool DBQuery(db_handle_t hdb, const char *query) { return DBQueryEx(hdb, query, nullptr); }

bool DBQueryEx(db_handle_t hdb, const char *query, char *errorText) {
  std::string error;
  if (!RefusedAfterAbort(hdb, error)) {
    if (hdb->conn->execute(query, error)) return true;
    NoteFailure(hdb, error);
  }
  SetError(errorText, error);
  return false;
}

db_result_t DBSelect(db_handle_t hdb, const char *query) { return DBSelectEx(hdb, query, nullptr); }

db_result_t DBSelectEx(db_handle_t hdb, const char *query, char *errorText) {
  auto result = std::make_unique<db_result_s>();
  std::string error;
  if (RefusedAfterAbort(hdb, error) || !Noted(hdb, hdb->conn->select(query, *result, error), error)) {
    SetError(errorText, error);
    return nullptr;
  }
  return result.release();
}

int DBGetNumRows(db_result_t result) { return result != nullptr ? result->rows : 0; }
int DBGetColumnCount(db_result_t result) { return result != nullptr ? result->columns : 0; }

char *DBGetField(db_result_t result, int row, int column, char *buffer, size_t size) {
  size_t length;
  const char *value = Cell(result, row, column, &length);
  return CopyCut(value != nullptr ? value : "", length, buffer, size);
}

bool DBIsFieldNull(db_result_t result, int row, int column) {
  size_t length;
  return Cell(result, row, column, &length) == nullptr;
}

int32_t DBGetFieldLong(db_result_t result, int row, int column) {
  return static_cast<int32_t>(DBGetFieldInt64(result, row, column));
}

uint32_t DBGetFieldULong(db_result_t result, int row, int column) {
  return static_cast<uint32_t>(DBGetFieldInt64(result, row, column));
}

int64_t DBGetFieldInt64(db_result_t result, int row, int column) {
  size_t length;
  const char *value = Cell(result, row, column, &length);
  return value != nullptr ? strtoll(value, nullptr, 10) : 0;
}

uint32_t DBGetFieldIPAddr(db_result_t result, int row, int column) {
  size_t length;
  const char *value = Cell(result, row, column, &length);
  unsigned a, b, c, d;
  char tail;
  if (value == nullptr || sscanf(value, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 ||
      c > 255 || d > 255)
    return 0;
  return (a << 24) | (b << 16) | (c << 8) | d;
}

void DBFreeResult(db_result_t result) { delete result; }

bool DBTakeFirstValue(db_result_t result, std::string &value) {
  bool found = DBGetNumRows(result) > 0;
  if (found) {
    size_t length;
    const char *text = Cell(result, 0, 0, &length);
    value.assign(text != nullptr ? text : "", length);
  }
  DBFreeResult(result);
  return found;
}

db_async_result_t DBAsyncSelectEx(db_handle_t hdb, const char *query, char *errorText) {
  std::string error;
  std::unique_ptr<DbCursor> cursor;
  if (!RefusedAfterAbort(hdb, error)) {
    cursor = hdb->conn->openCursor(query, error);
    Noted(hdb, cursor != nullptr, error);
  }
  if (cursor == nullptr) {
    SetError(errorText, error);
    return nullptr;
  }
  auto result = new db_async_result_s;
  result->hdb = hdb;
  result->cursor = std::move(cursor);
  return result;
}

bool DBFetch(db_async_result_t result) {
  if (result == nullptr || result->failed) return false;
  if (result->cursor->fetch(result->error)) return true;
  result->failed = !result->error.empty();
  if (result->failed) NoteFailure(result->hdb, result->error);
  return false;
}

const char *DBGetAsyncError(db_async_result_t result) {
  return result != nullptr && result->failed ? result->error.c_str() : nullptr;
}

int DBGetColumnCountAsync(db_async_result_t result) { return result->cursor->columnCount(); }

char *DBGetColumnNameAsync(db_async_result_t result, int column, char *buffer, size_t size) {
  const char *name = result->cursor->columnName(column);
  return CopyCut(name, strlen(name), buffer, size);
}

char *DBGetFieldAsync(db_async_result_t result, int column, char *buffer, size_t size) {
  size_t length;
  const char *value = result->cursor->value(column, &length);
  return CopyCut(value != nullptr ? value : "", length, buffer, size);
}

const char *DBGetFieldAsyncData(db_async_result_t result, int column, size_t *length) {
  return result->cursor->value(column, length);
}

int32_t DBGetFieldAsyncLong(db_async_result_t result, int column) {
  size_t length;
  const char *value = result->cursor->value(column, &length);
  return value != nullptr ? static_cast<int32_t>(strtoll(value, nullptr, 10)) : 0;
}

bool DBGetFieldAsyncInteger(db_async_result_t result, int column, int64_t *value) {
  return result->cursor->integer(column, value);
}

void DBFreeAsyncResult(db_async_result_t result) { delete result; }

db_statement_t DBPrepare(db_handle_t hdb, const char *query, char *errorText) {
  std::string error;
  std::unique_ptr<DbStatement> stmt;
  if (!RefusedAfterAbort(hdb, error)) {
    stmt = hdb->conn->prepare(query, error);
    Noted(hdb, stmt != nullptr, error);
  }
  if (stmt == nullptr) {
    SetError(errorText, error);
    return nullptr;
  }
  return new db_statement_s{hdb, std::move(stmt)};
}

bool DBBind(db_statement_t stmt, int pos, const char *value, size_t length) {
  return stmt->stmt->bind(pos, value, length);
}

bool DBBind(db_statement_t stmt, int pos, const char *value) {
  return stmt->stmt->bind(pos, value, value != nullptr ? strlen(value) : 0);
}

bool DBBind(db_statement_t stmt, int pos, int64_t value) {
  char text[32];
  int n = snprintf(text, sizeof(text), "%lld", static_cast<long long>(value));
  return stmt->stmt->bind(pos, text, static_cast<size_t>(n));
}

bool DBExecute(db_statement_t stmt, char *errorText) {
  std::string error;
  if (!RefusedAfterAbort(stmt->hdb, error)) {
    if (stmt->stmt->execute(error)) return true;
    NoteFailure(stmt->hdb, error);
  }
  SetError(errorText, error);
  return false;
}

db_result_t DBSelectPrepared(db_statement_t stmt, char *errorText) {
  auto result = std::make_unique<db_result_s>();
  std::string error;
  if (RefusedAfterAbort(stmt->hdb, error) || !Noted(stmt->hdb, stmt->stmt->select(*result, error), error)) {
    SetError(errorText, error);
    return nullptr;
  }
  return result.release();
}

void DBFreeStatement(db_statement_t stmt) { delete stmt; }

bool DBBegin(db_handle_t hdb) {
  // A part of an enclosing transaction that the server rolled back stays
  // refused until DBRollbackEnclosing.
  if (hdb->enclosing) return hdb->conn->savepoint(SavepointCall::kTake, hdb->lastError);
  hdb->aborted = false;
  hdb->inTransaction = hdb->conn->begin(hdb->lastError);
  return hdb->inTransaction;
}

bool DBCommit(db_handle_t hdb) {
  if (hdb->inTransaction && hdb->aborted) {
    // On MySQL the statements refused since belong to no transaction yet;
    // whatever the server holds of the new one goes.
    if (!hdb->enclosing) {
      std::string ignored;
      hdb->conn->rollback(ignored);
      hdb->inTransaction = false;
    }
    hdb->lastError = "the server has rolled back the transaction (" + hdb->abortReason + ")";
    return false;
  }
  if (hdb->enclosing) {
    if (hdb->conn->savepoint(SavepointCall::kRelease, hdb->lastError)) return true;
    NoteFailure(hdb, hdb->lastError);
    return false;
  }
  if (hdb->conn->commit(hdb->lastError)) {
    hdb->inTransaction = false;
    return true;
  }
  NoteFailure(hdb, hdb->lastError);
  // Elsewhere the transaction may still be open (SQLite keeps it when the
  // file is busy): the caller rolls it back.
  if (hdb->aborted) hdb->inTransaction = false;
  return false;
}

bool DBRollback(db_handle_t hdb) {
  if (hdb->enclosing) return hdb->conn->savepoint(SavepointCall::kUndo, hdb->lastError);
  hdb->inTransaction = false;
  hdb->aborted = false;
  return hdb->conn->rollback(hdb->lastError);
}

bool DBBeginEnclosing(db_handle_t hdb) {
  hdb->aborted = false;
  if (!hdb->conn->begin(hdb->lastError)) return false;
  hdb->enclosing = true;
  hdb->inTransaction = true;
  return true;
}

bool DBRollbackEnclosing(db_handle_t hdb) {
  hdb->enclosing = false;
  hdb->inTransaction = false;
  hdb->aborted = false;
  return hdb->conn->rollback(hdb->lastError);
}
bool DBBeginUnisolatedRun(db_handle_t hdb) { return hdb->conn->beginUnisolatedRun(hdb->lastError); }
bool DBEndUnisolatedRun(db_handle_t hdb, bool keep) {
  return hdb->conn->endUnisolatedRun(keep, hdb->lastError);
}

bool DBSpreadQueries(db_handle_t hdb, std::vector<DbSpreadLane> &lanes, int width) {
  return hdb->conn->spread(lanes, width, hdb->lastError);
}

const char *DBGetLastError(db_handle_t hdb) { return hdb->lastError.c_str(); }

const char *DBGetTransactionAbort(db_handle_t hdb) {
  return hdb->aborted ? hdb->abortReason.c_str() : nullptr;
}

int DBGetErrorCode(db_handle_t hdb, const char *errorText) {
  return errorText != nullptr && hdb->failureText == errorText ? hdb->failureCode : 0;
}

int64_t DBGetTransactionRows(db_handle_t hdb) { return hdb->conn->transactionRows(); }

bool DBReadServerVariable(db_handle_t hdb, const char *name, std::string &value) {
  if (hdb->engine != DB_SYNTAX_MYSQL) return false;
  DbResultData result;
  std::string error;
  if (!hdb->conn->select((std::string("SELECT @@") + name).c_str(), result, error) || result.rows != 1 ||
      result.nulls[0])
    return false;
  value = result.data.c_str();
  return true;
}

String DBPrepareString(db_handle_t hdb, const char *text, int maxLength) {
  return DBPrepareStringForSyntax(hdb->engine, text, maxLength);
}

namespace {

class RowByRowLoader final : public DbBulkLoader {
 public:
  RowByRowLoader(std::unique_ptr<DbStatement> stmt, size_t columns)
      : stmt_(std::move(stmt)), columns_(columns) {}
  bool addRow(const char *const *values, const size_t *lengths, std::string &error) override {
    for (size_t i = 0; i < columns_; i++)
      if (!stmt_->bind(static_cast<int>(i + 1), values[i], lengths[i])) {
        error = "cannot bind a value";
        return false;
      }
    return stmt_->execute(error);
  }
  bool finish(std::string &) override { return true; }

 private:
  std::unique_ptr<DbStatement> stmt_;
  size_t columns_;
};

}  // namespace

std::unique_ptr<DbBulkLoader> OpenRowByRowLoader(DbConnection &conn, const std::string &table,
                                                 const std::vector<std::string> &columns,
                                                 std::string &error) {
  std::string query = "INSERT INTO " + table + " (";
  std::string marks;
  for (size_t i = 0; i < columns.size(); i++) {
    query += (i > 0 ? "," : "") + columns[i];
    marks += i > 0 ? ",?" : "?";
  }
  query += ") VALUES (" + marks + ")";
  std::unique_ptr<DbStatement> stmt = conn.prepare(query.c_str(), error);
  if (stmt == nullptr) return nullptr;
  return std::make_unique<RowByRowLoader>(std::move(stmt), columns.size());
}

struct db_bulk_s {
  db_handle_t hdb;
  std::unique_ptr<DbBulkLoader> loader;
};

db_bulk_t DBBulkBegin(db_handle_t hdb, const char *table, const char *const *columns, int count,
                      char *errorText) {
  std::vector<std::string> names(columns, columns + count);
  std::string error;
  std::unique_ptr<DbBulkLoader> loader;
  if (!RefusedAfterAbort(hdb, error)) {
    loader = hdb->conn->openBulkLoader(table, names, error);
    Noted(hdb, loader != nullptr, error);
  }
  if (loader == nullptr) {
    SetError(errorText, error);
    return nullptr;
  }
  return new db_bulk_s{hdb, std::move(loader)};
}

bool DBBulkAddRow(db_bulk_t bulk, const char *const *values, const size_t *lengths, char *errorText) {
  std::string error;
  if (!RefusedAfterAbort(bulk->hdb, error)) {
    if (bulk->loader->addRow(values, lengths, error)) return true;
    NoteFailure(bulk->hdb, error);
  }
  SetError(errorText, error);
  return false;
}

bool DBBulkFinish(db_bulk_t bulk, char *errorText) {
  std::string error;
  if (!RefusedAfterAbort(bulk->hdb, error)) {
    if (bulk->loader->finish(error)) return true;
    NoteFailure(bulk->hdb, error);
  }
  SetError(errorText, error);
  return false;
}

void DBBulkFree(db_bulk_t bulk) { delete bulk; }
