#include "session/sql_exec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "runtime/terminal.h"
#include "session/globals.h"
#include "session/server_refusal.h"
#include "session/statement_watch.h"

void TraceSql(const char *statement) {
  if (TraceMode) WriteToTerminalEx("\33[1m>>> \33[32;1m%s\33[0m\n", statement);
}

namespace {

int SqlErrorsReported = 0;
// The last report, for a summary that repeats it.
std::string LastErrorText;
std::string LastErrorStatement;
bool RollbackAnnounced = false;

void PrintSqlErrorReport(const char *errorText, const char *statement) {
  // A row of an import or a statement of a command file can run to many
  // megabytes; its head tells which one failed, the rest buries the
  // message. The trace keeps the whole text.
  size_t length = strlen(statement);
  if (length <= kReportedStatementBytes) {
    WriteToTerminalEx("SQL query failed (%s):\n\33[33;1m%s\33[0m\n", errorText, statement);
    return;
  }
  size_t cut = kReportedStatementBytes;
  while (cut > 0 && (static_cast<unsigned char>(statement[cut]) & 0xC0) == 0x80) cut--;
  WriteToTerminalEx("SQL query failed (%s):\n\33[33;1m%.*s\33[0m... [%zu bytes in all]\n", errorText,
                    static_cast<int>(cut), statement, length);
}

}  // namespace

bool TransactionRolledBackByServer() {
  const char *reason = DbHandle != nullptr ? DBGetTransactionAbort(DbHandle) : nullptr;
  if (reason == nullptr) {
    RollbackAnnounced = false;
    return false;
  }
  if (!RollbackAnnounced) {
    RollbackAnnounced = true;
    printf("ERROR: the transaction was rolled back by the server: %s\n", reason);
    fflush(stdout);
    ExplainServerRefusal(reason);
  }
  return true;
}

int ReportedSqlErrors() { return SqlErrorsReported; }

void ReportSqlError(const char *errorText, const char *statement) {
  SqlErrorsReported++;
  LastErrorText = errorText;
  LastErrorStatement = statement;
  PrintSqlErrorReport(errorText, statement);
  ExplainServerRefusal(errorText);
  TransactionRolledBackByServer();
}

void RepeatLastSqlErrorReport() {
  if (SqlErrorsReported > 0) PrintSqlErrorReport(LastErrorText.c_str(), LastErrorStatement.c_str());
}

bool ExecSql(const char *statement) { return *statement == 0 || SendSql(statement, QueryEcho::kTraced); }

bool SendSql(const char *statement, QueryEcho echo, std::string *failure) {
  if (TransactionRolledBackByServer()) return false;
  StatementWatch *watch = ArmedStatementWatch();
  if (watch != nullptr) switch (watch->beforeSending(statement)) {
      case StatementWatch::Verdict::kSend: break;
      case StatementWatch::Verdict::kSkip: return true;
      case StatementWatch::Verdict::kRefuse: return false;
    }
  if (echo == QueryEcho::kTraced) TraceSql(statement);
  char errorText[DBDRV_MAX_ERROR_TEXT];
  bool ok = DBQueryEx(DbHandle, statement, errorText);
  // The watch may look at the engine's diagnostics of the failure, so it
  // hears of it before anything else is sent.
  if (watch != nullptr && watch->afterSending(statement, ok, ok ? 0 : DBGetErrorCode(DbHandle, errorText)))
    return true;
  if (!ok && failure != nullptr)
    *failure = errorText;
  else if (!ok && echo == QueryEcho::kTraced)
    ReportSqlError(errorText, statement);
  return ok;
}

void PassOverSql(const char *statement) {
  if (StatementWatch *watch = ArmedStatementWatch()) watch->passOver(statement);
}

namespace {

// Echo, the query through select, and the error report on failure (null)
// unless failure takes the error text.
template <typename ResultT>
ResultT TracedSelect(const char *query, ResultT (*select)(db_handle_t, const char *, char *),
                     std::string *failure = nullptr, db_handle_t handle = DbHandle) {
  if (handle == DbHandle && TransactionRolledBackByServer()) return nullptr;
  TraceSql(query);
  char errorText[DBDRV_MAX_ERROR_TEXT];
  ResultT result = select(handle, query, errorText);
  if (result == nullptr && failure != nullptr)
    *failure = errorText;
  else if (result == nullptr)
    ReportSqlError(errorText, query);
  return result;
}

}  // namespace

db_result_t SelectSql(const char *query, std::string *failure) {
  return TracedSelect(query, DBSelectEx, failure);
}

db_async_result_t SelectSqlUnbuffered(const char *query) { return TracedSelect(query, DBAsyncSelectEx); }

db_result_t SelectSqlOn(db_handle_t handle, const char *query) {
  return TracedSelect(query, DBSelectEx, nullptr, handle);
}

VariableRead ReadServerVariable(const char *table, const char *name, std::string &value, QueryEcho echo,
                                size_t size) {
  std::string query = std::string("SELECT var_value FROM ") + table + " WHERE var_name='" + name + "'";
  Result result(echo == QueryEcho::kTraced ? SelectSql(query.c_str()) : DBSelect(DbHandle, query.c_str()));
  if (result == nullptr) return VariableRead::kFailed;
  if (DBGetNumRows(result.get()) == 0) return VariableRead::kMissing;
  if (size == 0) {
    std::unique_ptr<char, decltype(&free)> whole(DBGetField(result.get(), 0, 0, nullptr, 0), free);
    value = whole.get();
  } else {
    std::string buffer(size, '\0');
    DBGetField(result.get(), 0, 0, buffer.data(), size);
    value = buffer.c_str();
  }
  return VariableRead::kFound;
}

bool CheckSchemaVersionIsCurrent() {
  int version = DBGetSchemaVersion(DbHandle);
  if (version < kToolSchemaVersion) {
    printf(
        "Your database has format version %d, this tool is compiled for version %d.\n"
        "Use \"upgrade\" command to upgrade your database first.\n",
        version, kToolSchemaVersion);
    return false;
  }
  if (version > kToolSchemaVersion) {
    ReportNewerDatabase(version);
    return false;
  }
  return true;
}

void ReportNewerDatabase(int version) {
  printf(
      "Your database has format version %d, this tool is compiled for version %d.\n"
      "You need to upgrade your server before using this database.\n",
      version, kToolSchemaVersion);
}
