// The road every statement travels: optional trace echo, the library
// call, and an error report on failure. Callers decide whether to go on.
#pragma once

#include <cstddef>

#include "external/db/db.h"

// Returns false on failure, after printing the error report. The empty
// text succeeds without being sent.
bool ExecSql(const char *statement);
// Returns null on failure, after printing the error report.
db_result_t SelectSql(const char *query);
// Statement echo and error report, for routines that call the library
// themselves.
void TraceSql(const char *statement);
// The report shows at most this many bytes of the statement, cut on a
// character boundary, and then how long the whole statement was.
constexpr size_t kReportedStatementBytes = 4096;
void ReportSqlError(const char *errorText, const char *statement);
// Returns true when the database is at the tool's schema version;
// otherwise prints what the operator has to upgrade and returns false.
bool CheckSchemaVersionIsCurrent();
// Returns true when the database is at the tool's version and not locked;
// otherwise prints why and returns false.
bool CheckDatabaseReady();
// The decoded value of a config variable, cut to 255 bytes. Returns false
// when the query fails or finds no row; sends no trace and no report.
bool ReadLockVariable(const char *name, char *value /* 256 */);
