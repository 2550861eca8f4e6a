// The road every statement travels: optional trace echo, the library
// call, and an error report on failure. Callers decide whether to go on.
#pragma once

#include <cstddef>
#include <string>

#include "db/db.h"

// How a statement or query travels: as ExecSql and SelectSql (echo
// under -t, a failure reported) or silently, for probes and statements
// whose failure means absence.
enum class QueryEcho { kTraced, kSilent };

// Returns false on failure, after printing the error report. The empty
// text succeeds without being sent.
bool ExecSql(const char *statement);
// The one road to the engine of every statement that may change the
// database, past the armed statement watch (session/statement_watch.h).
// Sends the text as it stands, the empty one too. Returns false on
// failure, reported when echo is kTraced, unless failure is given: then
// its error text goes there for the caller to report or drop.
bool SendSql(const char *statement, QueryEcho echo, std::string *failure = nullptr);
// Tells the armed statement watch of a statement the caller does not
// send because the database has its effect already.
void PassOverSql(const char *statement);
// Returns null on failure, after printing the error report; when failure
// is given, the error text goes there instead, unreported.
db_result_t SelectSql(const char *query, std::string *failure = nullptr);
// The same over another connection than DbHandle.
db_result_t SelectSqlOn(db_handle_t handle, const char *query);
// The same for an unbuffered result (rows read one at a time). A read
// that breaks off later is the caller's to report (DBGetAsyncError).
db_async_result_t SelectSqlUnbuffered(const char *query);
// Statement echo and error report, for routines that call the library
// themselves.
void TraceSql(const char *statement);
// The report shows at most this many bytes of the statement, cut on a
// character boundary, and then how long the whole statement was.
constexpr size_t kReportedStatementBytes = 4096;
void ReportSqlError(const char *errorText, const char *statement);
// True once the server has rolled back the command's whole transaction
// (DBGetTransactionAbort: a deadlock, a cluster's failed certification,
// ...): the work sent in it is gone, not one statement. The first time
// it finds so it prints that the transaction was rolled back by the
// server and the server's reason; every failure report asks it. From
// then on the statement routines send nothing (they fail without a
// report) until the command has rolled back, and the command stops and
// reports failure, never success.
bool TransactionRolledBackByServer();
// How many failed statements have been reported since the process began:
// a caller that goes on after a failure can still tell that its work was
// incomplete.
int ReportedSqlErrors();
// Prints the last report once more, as it was printed (nothing when
// none was made).
void RepeatLastSqlErrorReport();
// Returns true when the database is at the tool's schema version;
// otherwise prints what the operator has to upgrade and returns false.
bool CheckSchemaVersionIsCurrent();
// Prints that a database of version, newer than the tool's, needs a newer
// server (and tool) first.
void ReportNewerDatabase(int version);

// The one reader of a server variable (a row of config or metadata).
enum class VariableRead { kFound, kMissing, kFailed };
// Reads the value of variable name of table ("config" or "metadata") as
// stored, without decoding; with size > 0 cut as DBGetField cuts for a
// buffer of size bytes. The name is pasted into the query unescaped: the
// callers pass the server's own variable names. Returns kFailed when the
// query fails, kMissing when there is no row.
VariableRead ReadServerVariable(const char *table, const char *name, std::string &value, QueryEcho echo,
                                size_t size = 0);
