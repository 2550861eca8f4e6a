#include "maintenance/unlock.h"

#include <cstdio>
#include <cstring>

#include "session/ask.h"
#include "session/commands.h"
#include "session/sql_exec.h"

UnlockOutcome OfferUnlock() {
  char status[256];
  if (!ReadLockVariable("DBLockStatus", status) || strcmp(status, "UNLOCKED") == 0)
    return UnlockOutcome::kNotLocked;
  char info[256];
  if (!ReadLockVariable("DBLockInfo", info)) info[0] = 0;
  if (!AskYesNo("Database is locked by server %s [%s]\nDo you wish to force database unlock?", status, info))
    return UnlockOutcome::kDeclined;
  if (!ExecSql("UPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'"))
    return UnlockOutcome::kFailed;
  printf("Database lock removed\n");
  return UnlockOutcome::kRemoved;
}

// Works at any schema version: a server that crashed while an upgrade was
// pending must still be unlockable.
void RunUnlockCommand() {
  if (OfferUnlock() == UnlockOutcome::kNotLocked) printf("Database is not locked\n");
}
