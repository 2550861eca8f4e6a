#include "check/check_locks.h"

#include <string>

#include "session/lock_table.h"

// A count takes a lock on the node's table and, through the planner, on
// each of its indexes, and PostgreSQL keeps every lock a transaction took
// until the transaction ends (a statement's savepoint, once released,
// hands its locks on). The repairs have to stay in the one transaction,
// so a check of more tables than the server's lock table holds would fail
// part way with "out of shared memory"; it is refused before it starts.
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
