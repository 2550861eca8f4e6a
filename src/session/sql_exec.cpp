#include "session/sql_exec.h"

#include <cstdio>
#include <cstring>

#include "external/terminal.h"
#include "session/globals.h"

void TraceSql(const char *statement) {
  if (TraceMode) WriteToTerminalEx("\33[1m>>> \33[32;1m%s\33[0m\n", statement);
}

void ReportSqlError(const char *errorText, const char *statement) {
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

bool ReadLockVariable(const char *name, char *value) {
  char query[256];
  snprintf(query, sizeof(query), "SELECT var_value FROM config WHERE var_name='%s'", name);
  db_result_t result = DBSelect(DbHandle, query);
  if (result == nullptr) return false;
  bool found = DBGetNumRows(result) > 0;
  if (found) {
    DBGetField(result, 0, 0, value, 256);
    DecodeSQLString(value);
  }
  DBFreeResult(result);
  return found;
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
  char status[256];
  if (!ReadLockVariable("DBLockStatus", status) || strcmp(status, "UNLOCKED") == 0) return true;
  char info[256];
  if (!ReadLockVariable("DBLockInfo", info)) info[0] = 0;
  printf("Database is locked by server %s [%s]\n", status, info);
  return false;
}
