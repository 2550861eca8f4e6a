#include "session/server_role.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

// Which of the MySQL/MariaDB global variables names are ON. A server that
// lacks one (MySQL has no wsrep_on) has it off. False after reporting.
bool AnyGlobalOn(db_handle_t hdb, const char *names, bool &on) {
  const std::string query = std::string("SHOW GLOBAL VARIABLES WHERE Variable_name IN (") + names + ")";
  char errorText[DBDRV_MAX_ERROR_TEXT];
  Result result(DBSelectEx(hdb, query.c_str(), errorText));
  if (result == nullptr) {
    ReportSqlError(errorText, query.c_str());
    return false;
  }
  on = false;
  for (int row = 0; row < DBGetNumRows(result.get()); row++) {
    char value[8];
    DBGetField(result.get(), row, 1, value, sizeof(value));
    on = on || strcasecmp(value, "ON") == 0 || strcmp(value, "1") == 0;
  }
  return true;
}

ServerFact AnyGlobalOn(db_handle_t hdb, const char *names) {
  bool on = false;
  if (!AnyGlobalOn(hdb, names, on)) return ServerFact::kUnknown;
  return on ? ServerFact::kYes : ServerFact::kNo;
}

// The commands that may change the database: all but export.
bool ChangesData(const char *command) { return strcmp(command, "export") != 0; }

void Refuse(const char *why) { fprintf(stderr, "tvdbmgr: %s\n", why); }

}  // namespace

ServerFact IsGaleraNode(db_handle_t hdb) {
  if (DBGetEngine(hdb) != DB_SYNTAX_MYSQL) return ServerFact::kNo;
  return AnyGlobalOn(hdb, "'wsrep_on'");
}

ServerFact IsReadOnlyStandby(db_handle_t hdb) {
  switch (DBGetEngine(hdb)) {
    case DB_SYNTAX_MYSQL: return AnyGlobalOn(hdb, "'read_only','innodb_read_only'");
    case DB_SYNTAX_PGSQL: {
      std::string value;
      constexpr char kQuery[] = "SELECT pg_is_in_recovery()::int";
      char errorText[DBDRV_MAX_ERROR_TEXT] = "";
      if (DBTakeFirstValue(DBSelectEx(hdb, kQuery, errorText), value))
        return value == "1" ? ServerFact::kYes : ServerFact::kNo;
      ReportSqlError(errorText, kQuery);
      return ServerFact::kUnknown;
    }
    default: return ServerFact::kNo;
  }
}

int RefuseCommandForServerRole(db_handle_t hdb, const char *command) {
  if (!ChangesData(command)) return 0;
  switch (IsReadOnlyStandby(hdb)) {
    case ServerFact::kUnknown: return kServerRoleRefusedExit;
    case ServerFact::kYes:
      Refuse("the database is a read-only standby; run tvdbmgr against the primary");
      return kServerRoleRefusedExit;
    case ServerFact::kNo: break;
  }
  if (TableType != MysqlTableType::kMyIsam) return 0;
  switch (IsGaleraNode(hdb)) {
    case ServerFact::kUnknown: return kServerRoleRefusedExit;
    case ServerFact::kYes:
      Refuse(
          "-M asks for MyISAM tables, which a Galera cluster does not replicate: the other nodes would "
          "keep them empty. Run without -M (or with -I) on a Galera node");
      return kServerRoleRefusedExit;
    case ServerFact::kNo: return 0;
  }
  return 0;
}
