#include "maintenance/unlock.h"

#include <cstdio>
#include <string>

#include "session/ask.h"
#include "session/commands.h"
#include "session/sql_exec.h"

UnlockOutcome OfferUnlock() {
  std::string status;
  if (!ReadLockVariable("DBLockStatus", status) || status == "UNLOCKED") return UnlockOutcome::kNotLocked;
  std::string info;
  ReadLockVariable("DBLockInfo", info);
  if (!AskYesNo("Database is locked by server %s [%s]\nDo you wish to force database unlock?", status.c_str(),
                info.c_str()))
    return UnlockOutcome::kDeclined;
  if (!ExecSql("UPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'"))
    return UnlockOutcome::kFailed;
  printf("Database lock removed\n");
  return UnlockOutcome::kRemoved;
}

// Works at any schema version: a server that crashed while an upgrade was
// pending must still be unlockable.
// Declining the unlock fails the command: the lock is still there.
bool RunUnlockCommand() {
  switch (OfferUnlock()) {
    case UnlockOutcome::kNotLocked: printf("Database is not locked\n"); return true;
    case UnlockOutcome::kRemoved: return true;
    case UnlockOutcome::kDeclined:
    case UnlockOutcome::kFailed: return false;
  }
  return false;
}
