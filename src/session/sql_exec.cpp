#include "session/sql_exec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "external/terminal.h"
#include "session/globals.h"

void TraceSql(const char *statement) {
  if (TraceMode) WriteToTerminalEx("\33[1m>>> \33[32;1m%s\33[0m\n", statement);
}

namespace {
int SqlErrorsReported = 0;
}  // namespace

int ReportedSqlErrors() { return SqlErrorsReported; }

void ReportSqlError(const char *errorText, const char *statement) {
  SqlErrorsReported++;
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

bool ExecSql(const char *statement) {
  if (*statement == 0) return true;
  TraceSql(statement);
  char errorText[DBDRV_MAX_ERROR_TEXT];
  if (DBQueryEx(DbHandle, statement, errorText)) return true;
  ReportSqlError(errorText, statement);
  return false;
}

db_result_t SelectSql(const char *query) {
  TraceSql(query);
  char errorText[DBDRV_MAX_ERROR_TEXT];
  db_result_t result = DBSelectEx(DbHandle, query, errorText);
  if (result == nullptr) ReportSqlError(errorText, query);
  return result;
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

bool ReadLockVariable(const char *name, std::string &value) {
  if (ReadServerVariable("config", name, value, QueryEcho::kSilent, 256) != VariableRead::kFound)
    return false;
  DecodeSQLString(value.data());
  value.resize(strlen(value.c_str()));
  return true;
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
    printf(
        "Your database has format version %d, this tool is compiled for version %d.\n"
        "You need to upgrade your server before using this database.\n",
        version, kToolSchemaVersion);
    return false;
  }
  return true;
}

bool CheckDatabaseReady() {
  if (!CheckSchemaVersionIsCurrent()) return false;
  std::string status;
  if (!ReadLockVariable("DBLockStatus", status) || status == "UNLOCKED") return true;
  std::string info;
  ReadLockVariable("DBLockInfo", info);
  printf("Database is locked by server %s [%s]\n", status.c_str(), info.c_str());
  return false;
}
