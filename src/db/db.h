// Database access layer: one interface over the SQLite, PostgreSQL,
// MySQL/MariaDB and ODBC drivers. Texts are UTF-8. Error texts are written
// into a caller buffer of DBDRV_MAX_ERROR_TEXT bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/spread.h"
#include "runtime/tv_string.h"

#define DBDRV_MAX_ERROR_TEXT 1024

// Dialect codes of DBGetSyntax.
#define DB_SYNTAX_MYSQL 0
#define DB_SYNTAX_PGSQL 1
#define DB_SYNTAX_MSSQL 2
#define DB_SYNTAX_ORACLE 3
#define DB_SYNTAX_SQLITE 4
#define DB_SYNTAX_DB2 5
#define DB_SYNTAX_UNKNOWN (-1)

struct db_driver_s;
struct db_handle_s;
struct db_result_s;
struct db_async_result_s;
struct db_statement_s;
typedef db_driver_s *db_driver_t;
typedef db_handle_s *db_handle_t;
typedef db_result_s *db_result_t;
typedef db_async_result_s *db_async_result_t;
typedef db_statement_s *db_statement_t;

bool DBInit(int logMsgCode, int sqlErrorMsgCode);

// module: "sqlite", "pgsql", "mysql" or "odbc" (a path and a ".ddr"
// ending are allowed and ignored). Returns null for an unknown module or
// bad params.
db_driver_t DBLoadDriver(const char *module, const char *initParameters, bool dumpSql, void *eventHandler,
                         void *userArg);
void DBUnloadDriver(db_driver_t driver);
// Whether dbName can name a database of the driver module: on SQLite it
// must name a file. False, with the reason in error, when it cannot; an
// unknown module passes (DBLoadDriver refuses it).
bool DBCheckDatabaseName(const char *module, const char *dbName, std::string &error);
// Lets DBConnect with this driver create a database that does not exist
// yet (an SQLite file). Without it a missing SQLite file fails to
// connect, so that a mistyped name cannot leave an empty database behind.
// The server engines ignore it.
void DBAllowDatabaseCreation(db_driver_t driver);

// The engine of a loaded driver (DB_SYNTAX_*), known before it connects;
// DB_SYNTAX_UNKNOWN for ODBC, whose engine DBGetEngine tells once
// connected.
int DBGetDriverEngine(db_driver_t driver);

// The name under which SQLite opens path as the file of that name: a
// relative path gets "./" in front, so that "file:..." is never taken
// for a URI, whatever the SQLite build's default, nor ":memory:" for a
// database in memory.
std::string PlainFilePath(const std::string &path);

// Returns null and fills errorText when the connection cannot be opened.
db_handle_t DBConnect(db_driver_t driver, const char *server, const char *dbName, const char *login,
                      const char *password, const char *schema, char *errorText);
// A second connection to the database of hdb, opened as hdb was, for work
// that must not share its transactions; it outlives the driver as hdb
// does. Returns null and fills errorText when it cannot be opened.
db_handle_t DBConnectAgain(db_handle_t hdb, char *errorText);
void DBDisconnect(db_handle_t hdb);

// The dialect record: metadata "Syntax", else config "DBSyntax". Returns
// DB_SYNTAX_UNKNOWN when neither holds a known value.
int DBGetSyntax(db_handle_t hdb);
// Metadata "SchemaVersion", else config "DBFormatVersion"; 0 when the
// database holds neither.
int DBGetSchemaVersion(db_handle_t hdb);

bool DBQuery(db_handle_t hdb, const char *query);
bool DBQueryEx(db_handle_t hdb, const char *query, char *errorText);

// Buffered results: all rows at once. Null on failure.
db_result_t DBSelect(db_handle_t hdb, const char *query);
db_result_t DBSelectEx(db_handle_t hdb, const char *query, char *errorText);
int DBGetNumRows(db_result_t result);
int DBGetColumnCount(db_result_t result);
// Copies at most size - 1 bytes (cut on a character boundary) and
// terminates. A null buffer returns a new copy of the whole value for the
// caller to free(). Out-of-range cells and NULL read as the empty text.
char *DBGetField(db_result_t result, int row, int column, char *buffer, size_t size);
bool DBIsFieldNull(db_result_t result, int row, int column);
int32_t DBGetFieldLong(db_result_t result, int row, int column);
uint32_t DBGetFieldULong(db_result_t result, int row, int column);
int64_t DBGetFieldInt64(db_result_t result, int row, int column);
// Dotted IPv4 text as a host-order number; 0 when the text is not one.
uint32_t DBGetFieldIPAddr(db_result_t result, int row, int column);
void DBFreeResult(db_result_t result);
struct ResultDeleter {
  void operator()(db_result_t r) const { DBFreeResult(r); }
};
// The one owner of a buffered result in C++ code: freed on every path.
using Result = std::unique_ptr<db_result_s, ResultDeleter>;
// The first column of the first row, whole, into value; false when the
// result is null or has no row. Releases the result in every case.
bool DBTakeFirstValue(db_result_t result, std::string &value);

// Unbuffered results: rows are read one at a time, memory stays flat.
// While one is open no other statement may run on the same connection.
db_async_result_t DBAsyncSelectEx(db_handle_t hdb, const char *query, char *errorText);
// True while a row is current. A read error ends the rows and is kept in
// DBGetAsyncError.
bool DBFetch(db_async_result_t result);
// The error that ended the rows early, or null after a clean end.
const char *DBGetAsyncError(db_async_result_t result);
int DBGetColumnCountAsync(db_async_result_t result);
char *DBGetColumnNameAsync(db_async_result_t result, int column, char *buffer, size_t size);
// As DBGetField; never null (a null buffer returns a new whole copy).
char *DBGetFieldAsync(db_async_result_t result, int column, char *buffer, size_t size);
// The current value without a copy, valid until the next DBFetch; null
// for NULL. length receives the byte count.
const char *DBGetFieldAsyncData(db_async_result_t result, int column, size_t *length);
int32_t DBGetFieldAsyncLong(db_async_result_t result, int column);
// True with the current value when the engine holds it as an integer
// (SQLite's INTEGER storage class). False for NULL, for any other value
// and on engines whose driver reads text only: read the text then.
bool DBGetFieldAsyncInteger(db_async_result_t result, int column, int64_t *value);
void DBFreeAsyncResult(db_async_result_t result);
struct AsyncResultDeleter {
  void operator()(db_async_result_t r) const { DBFreeAsyncResult(r); }
};
// The one owner of an unbuffered result in C++ code.
using AsyncResult = std::unique_ptr<db_async_result_s, AsyncResultDeleter>;

// Prepared statements with "?" placeholders (outside quoted literals).
// Values are bound as text; the engine converts them to the column type.
db_statement_t DBPrepare(db_handle_t hdb, const char *query, char *errorText);
// Binds parameter pos (1-based); a null value binds NULL. The text is
// copied.
bool DBBind(db_statement_t stmt, int pos, const char *value, size_t length);
bool DBBind(db_statement_t stmt, int pos, const char *value);
bool DBBind(db_statement_t stmt, int pos, int64_t value);
bool DBExecute(db_statement_t stmt, char *errorText);
db_result_t DBSelectPrepared(db_statement_t stmt, char *errorText);
void DBFreeStatement(db_statement_t stmt);

bool DBBegin(db_handle_t hdb);
bool DBCommit(db_handle_t hdb);
bool DBRollback(db_handle_t hdb);
// PostgreSQL runs every statement inside a transaction behind a savepoint
// of its own, and ending one costs time in proportion to the relations
// the transaction has locked: a loop over thousands of tables grows with
// their square. An unisolated run instead puts one savepoint before a
// stretch of statements that the caller expects to succeed, and sends
// them bare. The first that fails aborts the run: nothing more may be
// sent but DBEndUnisolatedRun with keep false, which takes the
// transaction back to where the run began. Returns false, changing
// nothing, where the connection has no such mode (the other engines, or
// outside a transaction): statements run as before then.
bool DBBeginUnisolatedRun(db_handle_t hdb);
// Ends the run: keeps what it did, or undoes it. False when the server
// refuses (DBGetLastError); statements are isolated again either way.
bool DBEndUnisolatedRun(db_handle_t hdb, bool keep);
// Sends the lanes over up to width connections of the handle's own at
// once (opened at the first call, from the handle's settings, and kept
// while it lives), each statement committing on its own and each lane's
// statements in their order, and fills in what became of every
// statement. For schema statements of many tables where the engine
// commits each one anyway, the wait for one commit then overlaps the
// others'. The handle's connection sends nothing; its transaction stays
// as it is, so it must hold no lock the statements wait for. Returns
// false with nothing sent where the engine has no such connections (only
// MySQL/MariaDB has, and not on a Galera node, which takes schema
// statements one at a time) or they cannot be opened (DBGetLastError):
// the caller then sends the statements itself.
bool DBSpreadQueries(db_handle_t hdb, std::vector<DbSpreadLane> &lanes, int width);
// Error text of the last failed DBBegin/DBCommit/DBRollback/
// DBBeginUnisolatedRun/DBEndUnisolatedRun/DBSpreadQueries.
const char *DBGetLastError(db_handle_t hdb);
// A transaction that encloses the ones begun in it: while it is open,
// DBBegin takes a savepoint, DBCommit releases it and DBRollback goes back
// to it, so that work written as a series of transactions runs as parts
// of one, which DBRollbackEnclosing then undoes whole. One part at a
// time; the driver's own statement savepoints nest inside a part.
bool DBBeginEnclosing(db_handle_t hdb);
// Ends the enclosing transaction, undoing everything done in it.
bool DBRollbackEnclosing(db_handle_t hdb);
// Some failures end the whole transaction on the server, not just the
// statement: on MySQL/MariaDB a deadlock (also a cluster's failed
// certification), a lock wait timeout under innodb_rollback_on_timeout,
// a failed commit, a cluster node that is not ready; on PostgreSQL a
// failed COMMIT (a serialization failure or deadlock found only then).
// What was sent before is gone, and on MySQL what would follow would run
// in a new transaction of its own. From such a failure inside DBBegin's
// transaction until DBRollback, every statement call on the handle fails
// without reaching the server ("not sent: ..."), and DBCommit rolls back
// and fails: nothing sent after the failure can be committed. Returns
// the server's error text of that failure, or null when there was none
// since DBBegin (or since DBRollback). In an enclosing transaction the
// whole of it is gone, and it stays so until DBRollbackEnclosing.
const char *DBGetTransactionAbort(db_handle_t hdb);
// The engine's own number of a failure (MySQL/MariaDB's error number)
// when errorText is the text of the handle's last failed call; 0
// otherwise, and on the engines that give none.
int DBGetErrorCode(db_handle_t hdb, const char *errorText);
// How many rows the statements since the last DBBegin have written, as
// the engine counts them (MySQL/MariaDB); -1 on the engines that do not
// count.
int64_t DBGetTransactionRows(db_handle_t hdb);
// The value of the MySQL/MariaDB server variable name (SELECT @@name);
// false on other engines and when the server has no such variable. It
// reads no data, so it is sent even after the server rolled back the
// transaction.
bool DBReadServerVariable(db_handle_t hdb, const char *name, std::string &value);

// The whole quoted literal for text in the connection's dialect; the text
// is cut to maxLength characters first unless maxLength is -1.
String DBPrepareString(db_handle_t hdb, const char *text, int maxLength = -1);
// As DBPrepareString, for a dialect code without a connection.
String DBPrepareStringForSyntax(int syntax, const char *text, int maxLength = -1);

// Escaped text form of stored server texts. EncodeSQLString returns a new
// text (free()); DecodeSQLString decodes in place.
char *EncodeSQLString(const char *text);
void DecodeSQLString(char *text);

// The engine the handle is connected to (DB_SYNTAX_*), whatever the
// database's dialect record says; through ODBC the engine behind the
// data source, DB_SYNTAX_UNKNOWN when the ODBC driver names none that the
// tool knows.
int DBGetEngine(db_handle_t hdb);

// True when an unbuffered result (DBAsyncSelectEx) holds one row at a
// time in the tool's memory; false where the driver reads the whole
// result first (ODBC, with both server drivers as the tool opens them).
bool DBStreamsRows(db_handle_t hdb);

// Bulk loading of whole tables: COPY on PostgreSQL, multi-row INSERT on
// MySQL, a prepared INSERT elsewhere. Rows are buffered, so a failure may
// surface at a later row or only at DBBulkFinish and does not name the
// row. Inside a transaction a failed load leaves the transaction usable:
// on PostgreSQL the load is undone as a whole, elsewhere rows sent before
// the failure may remain. Table and column names are pasted into the
// statement as given: the caller vouches for them.
struct db_bulk_s;
typedef db_bulk_s *db_bulk_t;
db_bulk_t DBBulkBegin(db_handle_t hdb, const char *table, const char *const *columns, int count,
                      char *errorText);
// values[i] null for NULL; lengths[i] in bytes.
bool DBBulkAddRow(db_bulk_t bulk, const char *const *values, const size_t *lengths, char *errorText);
// Sends what is still buffered and ends the load.
bool DBBulkFinish(db_bulk_t bulk, char *errorText);
// Abandons an unfinished load.
void DBBulkFree(db_bulk_t bulk);
