#include "session/server_refusal.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "session/globals.h"

namespace {

// MariaDB's numbers: a table type that requires a primary key (InnoDB
// under innodb_force_primary_key), a table the cluster cannot replicate
// (wsrep_mode REQUIRED_PRIMARY_KEY), an error during commit (the
// cluster's row limit says so by name), and an unknown error (the
// cluster's writeset size limit).
constexpr int kRequiresPrimaryKey = 1173, kClusterCannotReplicate = 4165, kErrorDuringCommit = 1180,
              kUnknownError = 1105;

const char kWhereTransactions[] =
    "A table of the import, a step of the upgrade and the check with its repairs each run in one transaction";
const char kWhereNoPrimaryKey[] = "The collected-data tables and some tables of the upgrade steps have none";

std::string LastExplained;

bool Setting(const char *name, std::string &value) { return DBReadServerVariable(DbHandle, name, value); }

bool IsOn(const std::string &value) { return value == "1" || value == "ON"; }

}  // namespace

void ExplainServerRefusal(const char *errorText) {
  if (DbHandle == nullptr || LastExplained == errorText) return;
  const int code = DBGetErrorCode(DbHandle, errorText);
  const long long rows = DBGetTransactionRows(DbHandle);
  std::string value;
  if (code == kRequiresPrimaryKey && Setting("innodb_force_primary_key", value) && IsOn(value)) {
    printf(
        "ERROR: the server refuses tables without a primary key (innodb_force_primary_key is ON). %s; "
        "set innodb_force_primary_key=OFF while tvdbmgr runs.\n",
        kWhereNoPrimaryKey);
  } else if (code == kClusterCannotReplicate && Setting("wsrep_mode", value) &&
             value.find("REQUIRED_PRIMARY_KEY") != std::string::npos) {
    printf(
        "ERROR: the cluster refuses tables without a primary key (wsrep_mode includes REQUIRED_PRIMARY_KEY). "
        "%s; take REQUIRED_PRIMARY_KEY out of wsrep_mode while tvdbmgr runs.\n",
        kWhereNoPrimaryKey);
  } else if (code == kErrorDuringCommit && strstr(errorText, "wsrep_max_ws_rows") != nullptr &&
             Setting("wsrep_max_ws_rows", value)) {
    printf(
        "ERROR: the cluster refuses transactions that write more than %s rows (wsrep_max_ws_rows); this one "
        "went past it after %lld rows, with the statement that the cluster refused. %s; set wsrep_max_ws_rows=0 (no limit) while tvdbmgr runs.\n",
        value.c_str(), rows, kWhereTransactions);
  } else if (code == kUnknownError && strstr(errorText, "writeset size") != nullptr &&
             Setting("wsrep_max_ws_size", value)) {
    printf(
        "ERROR: the cluster refuses transactions whose writeset exceeds %s bytes (wsrep_max_ws_size); this "
        "one, of %lld rows, went past that limit. %s; raise wsrep_max_ws_size (at most 2147483647) while "
        "tvdbmgr runs.\n",
        value.c_str(), rows, kWhereTransactions);
  } else {
    return;
  }
  LastExplained = errorText;
  fflush(stdout);
}
