#include <uuid/uuid.h>
#include <cstdio>

#include "external/runtime.h"
#include "frontend/commands.h"
#include "frontend/sql_exec.h"

namespace {

bool SetNewGuid(const char *format, int id) {
  uuid_t guid;
  uuid_generate(guid);
  char text[40];
  uuid_to_string(guid, text);
  char query[256];
  snprintf(query, sizeof(query), format, text, id);
  return ExecSql(query);
}

}  // namespace

void RunInitCommand(const char *path) {
  printf("Initializing database...\n");
  if (RunBatchCommand(path) && SetNewGuid("UPDATE users SET guid='%s' WHERE id=%d", 0) &&
      SetNewGuid("UPDATE user_groups SET guid='%s' WHERE id=%d", static_cast<int>(0x80000000u))) {
    printf("Database initialized successfully\n");
    return;
  }
  printf("Database initialization failed\n");
}
