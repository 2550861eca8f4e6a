#include "session/server_lock.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "session/ask.h"
#include "session/sql_exec.h"

namespace {

// The value of a config variable as stored, cut to 255 bytes. Returns
// false when the query fails or finds no row; sends no trace and no
// report.
bool ReadStoredLockVariable(const char *name, std::string &value) {
  return ReadServerVariable("config", name, value, QueryEcho::kSilent, 256) == VariableRead::kFound;
}

// The same, decoded.
bool ReadLockVariable(const char *name, std::string &value) {
  if (!ReadStoredLockVariable(name, value)) return false;
  DecodeSQLString(value.data());
  value.resize(strlen(value.c_str()));
  return true;
}

}  // namespace

bool IsLocked() {
  std::string status;
  return ReadStoredLockVariable("DBLockStatus", status) && status != "UNLOCKED";
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
