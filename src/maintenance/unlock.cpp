#include <cstdio>

#include "maintenance/maintenance_commands.h"
#include "session/server_lock.h"

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
