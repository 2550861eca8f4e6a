#include "upgrade/helpers.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "runtime/tv_string.h"
#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

struct FreeDeleter {
  void operator()(char *p) const { free(p); }
};
using EncodedText = std::unique_ptr<char, FreeDeleter>;

// The decoded value, or false when the variable cannot be read.
bool ReadConfigText(const char *name, char *value /* 64 */) {
  value[0] = 0;
  if (strlen(name) >= 128) return false;
  std::string stored;
  if (ReadServerVariable("config", name, stored, QueryEcho::kTraced, 64) != VariableRead::kFound)
    return false;
  snprintf(value, 64, "%s", stored.c_str());
  DecodeSQLString(value);
  return true;
}

}  // namespace

// Values saturate at 32 bits: an out-of-range number reads as the
// nearest bound instead of wrapping, as the monitoring server reads it.
int32_t ReadConfigVariable(const char *name, int32_t defaultValue) {
  char value[64];
  if (!ReadConfigText(name, value)) return defaultValue;
  long long n = strtoll(value, nullptr, 0);
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

uint32_t ReadConfigVariableUnsigned(const char *name, uint32_t defaultValue) {
  char value[64];
  if (!ReadConfigText(name, value)) return defaultValue;
  errno = 0;
  unsigned long long n = strtoull(value, nullptr, 0);
  if (errno == ERANGE) return UINT32_MAX;
  const char *p = value;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
  // A negative number wraps as in 32-bit arithmetic, as long as its
  // magnitude fits.
  unsigned long long magnitude = *p == '-' ? 0ull - n : n;
  if (magnitude > UINT32_MAX) return UINT32_MAX;
  return static_cast<uint32_t>(n);
}

bool AddConfigVariable(const char *name, const char *value, int isVisible, int needServerRestart,
                       bool updateIfExists) {
  std::string stored;
  bool exists = ReadServerVariable("config", name, stored, QueryEcho::kSilent) == VariableRead::kFound;
  EncodedText encoded(EncodeSQLString(value));
  String statement;
  if (exists && updateIfExists)
    statement.addFormattedString("UPDATE config SET var_value='%s' WHERE var_name='%s'", encoded.get(), name);
  else
    statement.addFormattedString(
        "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('%s','%s',%d,%d)",
        name, encoded.get(), isVisible, needServerRestart);
  if (!exists || updateIfExists) return ExecSql(statement);
  // Counted all the same, so that a rerun of a step whose first run
  // inserted the variable numbers its statements as that run did.
  PassOverSql(statement);
  return true;
}

bool MakeColumnNullable(const char *table, const char *column, const char *) {
  if (DbSyntax != DB_SYNTAX_ORACLE) return true;
  String statement;
  statement.addFormattedString(
      "DECLARE already_null EXCEPTION; PRAGMA EXCEPTION_INIT(already_null, -1451); BEGIN EXECUTE IMMEDIATE "
      "'ALTER TABLE %s MODIFY %s null'; EXCEPTION WHEN already_null THEN null; END;",
      table, column);
  return ExecSql(statement);
}

bool AddEventTemplate(int code, const char *name, int severity, const char *message, const char *description,
                      bool textsStored) {
  EncodedText encodedMessage(textsStored ? strdup(message) : EncodeSQLString(message));
  EncodedText encodedDescription(textsStored ? strdup(description) : EncodeSQLString(description));
  String statement;
  statement.addFormattedString(
      "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
      "(%d,'%s',%d,1,'%s','%s')",
      code, name, severity, encodedMessage.get(), encodedDescription.get());
  return ExecSql(statement);
}
