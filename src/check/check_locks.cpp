#include "check/check_locks.h"

#include <string>

#include "session/globals.h"
#include "session/lock_table.h"

// A count takes a lock on the node's table and, through the planner, on
// each of its indexes, and PostgreSQL keeps every lock a transaction took
// until the transaction ends (a statement's savepoint, once released,
// hands its locks on). The repairs have to stay in the one transaction,
// so when the counts cannot go over a connection of their own, a check of
// more tables than the server's lock table holds would fail part way
// with "out of shared memory"; it is refused before it starts.
bool EstimateCheckLocks(int64_t &locks) {
  RelationCount count;
  if (!CountTableRelations(std::string(kDataTableCondition) +
                               " OR t.relname IN ('zones','nodes','object_properties','interfaces',"
                               "'network_services','nsmap','subnets','container_members','cluster_members',"
                               "'acl','dct_node_map','policy_source_list','policy_event_list','event_cfg',"
                               "'event_groups','policy_action_list','actions','raw_dci_values')",
                           count))
    return false;
  locks = count.relations;
  return true;
}

db_handle_t OpenCollectedDataCounter() {
  if (DBGetEngine(DbHandle) != DB_SYNTAX_PGSQL) return nullptr;
  char errorText[DBDRV_MAX_ERROR_TEXT];
  db_handle_t counter = DBConnectAgain(DbHandle, errorText);
  if (counter != nullptr && !DBQuery(counter, "SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY")) {
    DBDisconnect(counter);
    return nullptr;
  }
  return counter;
}
