#include <uuid/uuid.h>
#include <cstdio>

#include "maintenance/maintenance_commands.h"
#include "runtime/runtime.h"
#include "session/sql_exec.h"

namespace {

// Gives the row a fresh identifier. Returns false, after the error
// report, when the update fails.
bool SetNewGuid(const char *table, int id) {
  uuid_t guid;
  uuid_generate(guid);
  char text[40];
  uuid_to_string(guid, text);
  char query[256];
  snprintf(query, sizeof(query), "UPDATE %s SET guid='%s' WHERE id=%d", table, text, id);
  return ExecSql(query);
}

}  // namespace

bool RunInitCommand(const char *path) {
  printf("Initializing database...\n");
  if (RunBatchCommand(path) && SetNewGuid("users", 0) &&
      SetNewGuid("user_groups", static_cast<int>(0x80000000u))) {
    printf("Database initialized successfully\n");
    return true;
  }
  printf("Database initialization failed\n");
  return false;
}
