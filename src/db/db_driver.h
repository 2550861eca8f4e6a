// What each engine's driver provides to the access layer. Every call
// returns false (or null) on failure with the engine's message in error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/driver_params.h"
#include "db/spread.h"

// All rows of a buffered query. Cells are stored back to back, each
// terminated, so that a cell is usable as a C string in place.
struct DbResultData {
  int rows = 0;
  int columns = 0;
  std::vector<std::string> names;
  std::vector<size_t> offsets;  // start of each cell; one more at the end
  std::vector<bool> nulls;
  std::string data;

  void addCell(const char *value, size_t length) {
    if (offsets.empty()) offsets.push_back(0);
    if (value != nullptr) data.append(value, length);
    data.push_back(0);
    offsets.push_back(data.size());
    nulls.push_back(value == nullptr);
  }
  size_t cellIndex(int row, int column) const {
    return static_cast<size_t>(row) * static_cast<size_t>(columns) + static_cast<size_t>(column);
  }
};

class DbCursor {
 public:
  virtual ~DbCursor() = default;
  // True while a row is current; on a read error false with error set.
  virtual bool fetch(std::string &error) = 0;
  virtual int columnCount() = 0;
  virtual const char *columnName(int column) = 0;
  // Null for NULL; valid until the next fetch.
  virtual const char *value(int column, size_t *length) = 0;
  // The value when the engine holds it as an integer, which saves a
  // round trip through text. Drivers that only have text say no.
  virtual bool integer(int /*column*/, int64_t * /*value*/) { return false; }
};

class DbStatement {
 public:
  virtual ~DbStatement() = default;
  // Null value binds NULL. The driver keeps its own copy.
  virtual bool bind(int pos, const char *value, size_t length) = 0;
  virtual bool execute(std::string &error) = 0;
  virtual bool select(DbResultData &result, std::string &error) = 0;
};

class DbBulkLoader {
 public:
  virtual ~DbBulkLoader() = default;
  virtual bool addRow(const char *const *values, const size_t *lengths, std::string &error) = 0;
  virtual bool finish(std::string &error) = 0;
};

class DbConnection;
// A loader of one prepared INSERT per row: works on every connection.
std::unique_ptr<DbBulkLoader> OpenRowByRowLoader(DbConnection &conn, const std::string &table,
                                                 const std::vector<std::string> &columns, std::string &error);

// What DbConnection::savepoint does with the savepoint of a part of an
// enclosing transaction.
enum class SavepointCall { kTake, kRelease, kUndo };
// Its statements in standard SQL (PostgreSQL, SQLite, MySQL); the undo
// releases the savepoint too, once back at it.
const char *StandardSavepointStatement(SavepointCall call);

class DbConnection {
 public:
  virtual ~DbConnection() = default;
  virtual std::unique_ptr<DbBulkLoader> openBulkLoader(const std::string &table,
                                                       const std::vector<std::string> &columns,
                                                       std::string &error) {
    return OpenRowByRowLoader(*this, table, columns, error);
  }
  virtual bool execute(const char *query, std::string &error) = 0;
  virtual bool select(const char *query, DbResultData &result, std::string &error) = 0;
  virtual std::unique_ptr<DbCursor> openCursor(const char *query, std::string &error) = 0;
  virtual std::unique_ptr<DbStatement> prepare(const char *query, std::string &error) = 0;
  virtual bool begin(std::string &error) = 0;
  virtual bool commit(std::string &error) = 0;
  virtual bool rollback(std::string &error) = 0;
  // The savepoint of a part of the open transaction (DBBeginEnclosing).
  virtual bool savepoint(SavepointCall call, std::string &error) {
    return execute(StandardSavepointStatement(call), error);
  }
  // Asked at once after a call inside a transaction failed, commit
  // included, before anything else is sent: whether the server ended the
  // whole transaction with it rather than just the statement.
  virtual bool failureEndedTransaction() { return false; }
  // The engine's own number of the failure, asked at the same moment; 0
  // when the engine gives none.
  virtual int failureCode() { return 0; }
  // The rows that the statements since begin have written, as the engine
  // counts them; -1 when it does not.
  virtual int64_t transactionRows() { return -1; }
  // Whether a cursor holds one row at a time rather than the whole result.
  virtual bool streamsRows() const { return true; }
  // See DBSpreadQueries: false, with nothing sent, where the connection
  // has no siblings to spread over.
  virtual bool spread(std::vector<DbSpreadLane> & /*lanes*/, int /*width*/, std::string &error) {
    error = "statements cannot be spread over several connections here";
    return false;
  }
  // See DBBeginUnisolatedRun: only a connection that isolates each
  // statement of a transaction has such a run.
  virtual bool beginUnisolatedRun(std::string & /*error*/) { return false; }
  virtual bool endUnisolatedRun(bool /*keep*/, std::string & /*error*/) { return true; }
};

// Runs the lanes over the connections, one thread per connection, each
// taking the next lane not yet taken: what DbConnection::spread does
// once it has its connections.
void RunSpreadLanes(const std::vector<DbConnection *> &connections, std::vector<DbSpreadLane> &lanes);

// Splits DBDrvParams, "k=v;k=v" or "k=v k=v", into its pairs. False
// for an item without "=" or without a key.
bool ParseDriverOptions(const char *text, std::vector<std::pair<std::string, std::string>> &options);

struct DbConnectParams {
  std::string server, database, login, password, schema;
  std::vector<std::pair<std::string, std::string>> options;  // from DBDrvParams
  bool createDatabase = false;                               // DBAllowDatabaseCreation
};

// Whether an SQLite DBName names a file. False, with the reason in error,
// for the empty name, ":memory:" and a "file:" URI: the database would
// live in memory or in a temporary file, and a command would report
// success with nothing stored.
bool IsSqliteFileName(const std::string &name, std::string &error);

std::unique_ptr<DbConnection> SqliteConnect(const DbConnectParams &params, std::string &error);

// The libpq connection keywords of the settings, DBDrvParams included,
// with a connect_timeout when DBDrvParams sets none. False, with the
// reason in error, when a numeric keyword is not wholly a number of its
// range.
bool PgsqlConnectKeywords(const DbConnectParams &params,
                          std::vector<std::pair<std::string, std::string>> &keywords, std::string &error);
std::unique_ptr<DbConnection> PgsqlConnect(const DbConnectParams &params, std::string &error);

// What the MySQL driver takes from DBDrvParams.
struct MysqlOptions {
  unsigned port = 0;  // the client's default
  std::string socket;
  std::string sqlMode = "NO_ENGINE_SUBSTITUTION";
  unsigned connectTimeout = kDefaultConnectTimeoutSeconds;
};
// False, with the reason in error, for an unknown key or a number that
// is not wholly a number of its range.
bool ReadMysqlOptions(const DbConnectParams &params, MysqlOptions &options, std::string &error);
std::unique_ptr<DbConnection> MysqlConnect(const DbConnectParams &params, std::string &error);

// The ODBC connection string of the settings and the login timeout in
// seconds (DBDrvParams connect_timeout, which stays out of the string).
// False, with the reason in error, when a number is not wholly a number
// of its range.
bool OdbcConnectSettings(const DbConnectParams &params, std::string &connection, unsigned &loginTimeout,
                         std::string &error);
// Any engine through an ODBC data source; engine receives the one behind
// it (DB_SYNTAX_*, DB_SYNTAX_UNKNOWN when the driver names another).
std::unique_ptr<DbConnection> OdbcConnect(const DbConnectParams &params, int &engine, std::string &error);

// Splits a query at its "?" placeholders outside single-quoted literals:
// n placeholders give n + 1 pieces.
std::vector<std::string> SplitAtPlaceholders(const char *query);

// A handle over a connection made elsewhere: tests use a statement-
// recording one for the dialects that cannot run here.
struct db_handle_s;
db_handle_s *DBAttachConnection(int engine, std::unique_ptr<DbConnection> conn);
