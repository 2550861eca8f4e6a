// The checks as they ran before their lookups were answered from set
// queries: one prepared statement per row and lookup. Linked in place of
// the tool's own checks into tvdbmgr_rowwise, which the differential test
// runs next to tvdbmgr on copies of the same database.
//
// The only change from that version: the outer queries, and the interface
// and subnet lookups whose first row counts, read in key order, since the
// engines return unordered rows in an order of their own.
#include <uuid/uuid.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "check/check_stage.h"
#include "runtime/runtime.h"
#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

// A query that a check runs once per row with one value in it: an id
// ("%d") or a quoted text ("'%s'"). It is prepared once and executed
// with the value bound, while the trace echo and the error report still
// show the statement with the value written in.
class RowLookup {
 public:
  explicit RowLookup(const char *format) {
    const char *mark = strstr(format, "'%s'");
    size_t skip = 4;
    if (mark != nullptr) {
      prefix_.assign(format, static_cast<size_t>(mark - format) + 1);
      suffix_ = std::string("'") + (mark + skip);
    } else {
      mark = strstr(format, "%d");
      skip = 2;
      prefix_.assign(format, static_cast<size_t>(mark - format));
      suffix_ = mark + skip;
    }
    prepared_.assign(format, static_cast<size_t>(mark - format));
    prepared_ += '?';
    prepared_ += mark + skip;
  }
  ~RowLookup() {
    if (statement_ != nullptr) DBFreeStatement(statement_);
  }
  RowLookup(const RowLookup &) = delete;
  RowLookup &operator=(const RowLookup &) = delete;

  // The result for the caller to release, or null after the error report.
  db_result_t select(int32_t id) {
    char value[16];
    snprintf(value, sizeof(value), "%d", id);
    return run(value);
  }
  db_result_t select(const char *text) { return run(text); }
  // Whether the lookup found a row; a failed query counts as none.
  bool found(int32_t id) {
    Result result(select(id));
    return DBGetNumRows(result.get()) > 0;
  }

 private:
  db_result_t run(const char *value) {
    char text[1024];
    auto write = [&] { snprintf(text, sizeof(text), "%s%s%s", prefix_.c_str(), value, suffix_.c_str()); };
    if (TraceMode) {
      write();
      TraceSql(text);
    }
    char errorText[DBDRV_MAX_ERROR_TEXT];
    if (!unpreparable_ && statement_ == nullptr) {
      statement_ = DBPrepare(DbHandle, prepared_.c_str(), errorText);
      unpreparable_ = statement_ == nullptr;
    }
    db_result_t result;
    if (unpreparable_) {
      write();
      result = DBSelectEx(DbHandle, text, errorText);
    } else {
      DBBind(statement_, 1, value);
      result = DBSelectPrepared(statement_, errorText);
    }
    if (result == nullptr) {
      write();
      ReportSqlError(errorText, text);
    }
    return result;
  }
  std::string prefix_, suffix_;
  std::string prepared_;
  db_statement_t statement_ = nullptr;
  bool unpreparable_ = false;
};

void LookupObjectName(RowLookup &lookup, int32_t id, char *name) {
  Result named(lookup.select(id));
  if (DBGetNumRows(named.get()) > 0)
    ReadObjectName(named.get(), 0, 0, name);
  else
    strcpy(name, "<unknown>");
}

constexpr int32_t kDefaultZoneId = 4;
constexpr uint32_t kEventGroupFlag = 0x80000000;

bool CreateLost(int32_t id, const char *name) {
  uuid_t guid;
  uuid_generate(guid);
  char guidText[37];
  uuid_to_string(guid, guidText);
  return ExecRepair(
      "INSERT INTO object_properties (object_id,guid,name,status,is_deleted,is_system,inherit_access_rights,"
      "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
      "status_single_threshold,status_thresholds,location_type,latitude,longitude,image,comments) VALUES "
      "(%d,'%s','%s',5,0,0,1,%llu,0,0,0,0,0,0,'00000000',0,'0.000000','0.000000',"
      "'00000000-0000-0000-0000-000000000000','')",
      id, guidText, name, static_cast<unsigned long long>(CurrentTime()));
}

struct NodeLookups {
  RowLookup properties{"SELECT name,is_deleted FROM object_properties WHERE object_id=%d"};
  RowLookup subnetLinks{"SELECT subnet_id FROM nsmap WHERE node_id=%d"};
  RowLookup containers{"SELECT container_id FROM container_members WHERE object_id=%d"};
  RowLookup clusters{"SELECT cluster_id FROM cluster_members WHERE node_id=%d"};
  RowLookup interfaces{"SELECT ip_addr,ip_netmask FROM interfaces WHERE node_id=%d ORDER BY id"};
  RowLookup subnets{"SELECT id FROM subnets WHERE ip_addr='%s' ORDER BY id"};
};

bool NodeHasParent(NodeLookups &lookups, int32_t node) {
  return lookups.containers.found(node) || lookups.clusters.found(node);
}

bool LinkNodeToSubnet(NodeLookups &lookups, int32_t node, const char *name) {
  Result interfaces(lookups.interfaces.select(node));
  for (int i = 0; i < DBGetNumRows(interfaces.get()); i++) {
    uint32_t network = DBGetFieldIPAddr(interfaces.get(), i, 0) & DBGetFieldIPAddr(interfaces.get(), i, 1);
    char networkText[32];
    IpToStr(network, networkText);
    Result subnet(lookups.subnets.select(networkText));
    if (DBGetNumRows(subnet.get()) == 0) continue;
    int32_t subnetId = IdAt(subnet.get(), 0, 0);
    if (ReportDefect("\rUnlinked node object %d (\"%s\") can be linked to subnet %d (%s). Link?", node, name,
                     subnetId, networkText) &&
        ExecRepair("INSERT INTO nsmap (subnet_id,node_id) VALUES (%d,%d)", subnetId, node)) {
      ErrorsFixed++;
      return true;
    }
    ErrorsFound--;
  }
  return false;
}

bool DeleteNode(int32_t node) {
  if (!ExecRepair("DELETE FROM nodes WHERE id=%d", node)) return false;
  bool aclDeleted = ExecRepair("DELETE FROM acl WHERE object_id=%d", node);
  bool propertiesDeleted = ExecRepair("DELETE FROM object_properties WHERE object_id=%d", node);
  return aclDeleted && propertiesDeleted;
}

void CheckPolicySources() {
  Result sources(SelectSql("SELECT object_id FROM policy_source_list ORDER BY rule_id,object_id"));
  RowLookup object("SELECT object_id FROM object_properties WHERE object_id=%d");
  for (int i = 0; i < DBGetNumRows(sources.get()); i++) {
    int32_t id = IdAt(sources.get(), i, 0);
    if (object.found(id)) continue;
    if (ReportDefect("\rInvalid object ID %d used in policy. Delete it from policy?", id) &&
        ExecRepair("DELETE FROM policy_source_list WHERE object_id=%d", id))
      ErrorsFixed++;
  }
}

void CheckPolicyEvents() {
  Result events(SelectSql("SELECT event_code FROM policy_event_list ORDER BY rule_id,event_code"));
  RowLookup group("SELECT id FROM event_groups WHERE id=%d");
  RowLookup event("SELECT event_code FROM event_cfg WHERE event_code=%d");
  for (int i = 0; i < DBGetNumRows(events.get()); i++) {
    uint32_t code = DBGetFieldULong(events.get(), i, 0);
    bool isGroup = (code & kEventGroupFlag) != 0;
    int32_t value = static_cast<int32_t>(code);
    if ((isGroup ? group : event).found(value)) continue;
    if (ReportDefect("\rInvalid event%s ID 0x%08X referenced in policy. Delete this reference?",
                     isGroup ? " group" : "", code) &&
        ExecRepair("DELETE FROM policy_event_list WHERE event_code=%d", value))
      ErrorsFixed++;
  }
}

void CheckPolicyActions() {
  Result actions(SelectSql("SELECT action_id FROM policy_action_list ORDER BY rule_id,action_id"));
  RowLookup action("SELECT action_id FROM actions WHERE action_id=%d");
  for (int i = 0; i < DBGetNumRows(actions.get()); i++) {
    int32_t id = IdAt(actions.get(), i, 0);
    if (action.found(id)) continue;
    if (ReportDefect("\rInvalid action ID %d referenced in policy. Delete this reference?", id) &&
        ExecRepair("DELETE FROM policy_action_list WHERE action_id=%d", id))
      ErrorsFixed++;
  }
}

}  // namespace

void CheckZones() {
  BeginCheckStage("Checking zone objects...");
  Result zones(SelectSql("SELECT id FROM zones ORDER BY id"));
  if (zones) {
    RowLookup properties("SELECT name,is_deleted FROM object_properties WHERE object_id=%d");
    for (int i = 0; i < DBGetNumRows(zones.get()); i++) {
      int32_t id = IdAt(zones.get(), i, 0);
      Result found(properties.select(id));
      if (!found || DBGetNumRows(found.get()) > 0 || id == kDefaultZoneId) continue;
      char name[64];
      snprintf(name, sizeof(name), "lost_zone_%d", id);
      if (ReportDefect("\rMissing zone object %d properties. Create?", id) && CreateLost(id, name))
        ErrorsFixed++;
    }
  }
  EndCheckStage();
}

void CheckNodes() {
  BeginCheckStage("Checking node objects...");
  Result nodes(SelectSql("SELECT id,primary_ip FROM nodes ORDER BY id"));
  if (nodes) {
    NodeLookups lookups;
    for (int i = 0; i < DBGetNumRows(nodes.get()); i++) {
      int32_t id = IdAt(nodes.get(), i, 0);
      char name[kNameBufferSize] = "";
      {
        Result properties(lookups.properties.select(id));
        if (!properties) continue;
        if (DBGetNumRows(properties.get()) > 0) {
          ReadObjectName(properties.get(), 0, 0, name);
          if (DBGetFieldLong(properties.get(), 0, 1) != 0) continue;  // deleted
        } else {
          char lostName[64];
          snprintf(lostName, sizeof(lostName), "lost_node_%d", id);
          if (ReportDefect("\rMissing node object %d properties. Create?", id) && CreateLost(id, lostName))
            ErrorsFixed++;
        }
      }
      Result links(lookups.subnetLinks.select(id));
      if (!links || DBGetNumRows(links.get()) > 0) continue;
      if (NodeHasParent(lookups, id)) continue;
      if (DBGetFieldIPAddr(nodes.get(), i, 1) != 0 && LinkNodeToSubnet(lookups, id, name)) continue;
      if (ReportDefect("\rUnlinked node object %d (\"%s\"). Delete it?", id, name) && DeleteNode(id))
        ErrorsFixed++;
    }
  }
  EndCheckStage();
}

void CheckComponents(const char *word, const char *table) {
  char title[256];
  snprintf(title, sizeof(title), "Checking %s objects...", word);
  BeginCheckStage(title);
  char query[256];
  snprintf(query, sizeof(query), "SELECT id,node_id FROM %s ORDER BY id", table);
  Result components(SelectSql(query));
  if (components) {
    RowLookup properties("SELECT name,is_deleted FROM object_properties WHERE object_id=%d");
    RowLookup liveNode("SELECT name FROM object_properties WHERE object_id=%d AND is_deleted=0");
    for (int i = 0; i < DBGetNumRows(components.get()); i++) {
      int32_t id = IdAt(components.get(), i, 0);
      int32_t nodeId = IdAt(components.get(), i, 1);
      char name[kNameBufferSize] = "";
      {
        Result own(properties.select(id));
        if (DBGetNumRows(own.get()) > 0) {
          ReadObjectName(own.get(), 0, 0, name);
        } else if (own) {
          char lostName[128];
          snprintf(lostName, sizeof(lostName), "lost_%s_%d", word, id);
          if (ReportDefect("\rMissing %s object %d properties. Create?", word, id) &&
              CreateLost(id, lostName))
            ErrorsFixed++;
        }
      }
      Result node(liveNode.select(nodeId));
      if (!node || DBGetNumRows(node.get()) > 0) continue;
      if (!ReportDefect("\rUnlinked %s object %d (\"%s\"). Delete it?", word, id, name)) continue;
      if (!ExecRepair("DELETE FROM %s WHERE id=%d", table, id)) continue;
      ExecRepair("DELETE FROM object_properties WHERE object_id=%d", id);
      ErrorsFixed++;
    }
  }
  EndCheckStage();
}

void CheckClusters() {
  BeginCheckStage("Checking cluster objects...");
  Result members(SelectSql("SELECT cluster_id,node_id FROM cluster_members ORDER BY cluster_id,node_id"));
  if (members) {
    RowLookup node("SELECT id FROM nodes WHERE id=%d");
    RowLookup clusterName("SELECT name FROM object_properties WHERE object_id=%d");
    for (int i = 0; i < DBGetNumRows(members.get()); i++) {
      int32_t clusterId = IdAt(members.get(), i, 0);
      int32_t nodeId = IdAt(members.get(), i, 1);
      if (node.found(nodeId)) continue;
      char name[kNameBufferSize];
      LookupObjectName(clusterName, clusterId, name);
      if (ReportDefect("\rCluster object %s [%d] refers to non-existing node %d. Dereference?", name,
                       clusterId, nodeId) &&
          ExecRepair("DELETE FROM cluster_members WHERE cluster_id=%d AND node_id=%d", clusterId, nodeId))
        ErrorsFixed++;
    }
  }
  EndCheckStage();
}

void CheckObjectProperties() {
  BeginCheckStage("Checking object properties...");
  Result objects(SelectSql("SELECT object_id,name,last_modified FROM object_properties ORDER BY object_id"));
  for (int i = 0; i < DBGetNumRows(objects.get()); i++) {
    if (DBGetFieldULong(objects.get(), i, 2) != 0) continue;
    int32_t id = IdAt(objects.get(), i, 0);
    char name[1024];
    DBGetField(objects.get(), i, 1, name, sizeof(name));
    if (ReportDefect("\rObject %d [%s] has invalid timestamp. Fix it?", id, name) &&
        ExecRepair("UPDATE object_properties SET last_modified=%llu WHERE object_id=%d",
                   static_cast<unsigned long long>(CurrentTime()), id))
      ErrorsFixed++;
  }
  EndCheckStage();
}

void CheckTemplateNodeMapping() {
  BeginCheckStage("Checking template to node mapping...");
  Result mappings(SelectSql("SELECT template_id,node_id FROM dct_node_map ORDER BY template_id,node_id"));
  RowLookup node("SELECT id FROM nodes WHERE id=%d");
  RowLookup templateName("SELECT name FROM object_properties WHERE object_id=%d");
  for (int i = 0; i < DBGetNumRows(mappings.get()); i++) {
    int32_t templateId = IdAt(mappings.get(), i, 0);
    int32_t nodeId = IdAt(mappings.get(), i, 1);
    if (node.found(nodeId)) continue;
    char name[kNameBufferSize];
    LookupObjectName(templateName, templateId, name);
    if (ReportDefect("\rTemplate %d [%s] mapped to non-existent node %d. Delete this mapping?", templateId,
                     name, nodeId) &&
        ExecRepair("DELETE FROM dct_node_map WHERE template_id=%d AND node_id=%d", templateId, nodeId))
      ErrorsFixed++;
  }
  EndCheckStage();
}

void CheckEventPolicy() {
  BeginCheckStage("Checking event processing policy...");
  CheckPolicySources();
  CheckPolicyEvents();
  CheckPolicyActions();
  EndCheckStage();
}

void CheckDataTimestamps() {
  BeginCheckStage("Checking collected data...");
  const unsigned long long now = CurrentTime();
  char query[256];
  Result nodes(SelectSql("SELECT id FROM nodes ORDER BY id"));
  for (int i = 0; i < DBGetNumRows(nodes.get()); i++) {
    int32_t id = IdAt(nodes.get(), i, 0);
    snprintf(query, sizeof(query), "SELECT count(*) FROM idata_%d WHERE idata_timestamp>%llu", id, now);
    Result count(SelectSql(query));
    if (DBGetNumRows(count.get()) == 0 || DBGetFieldInt64(count.get(), 0, 0) <= 0) continue;
    if (ReportDefect("\rFound collected data for node [%d] with timestamp in the future. Delete them?", id) &&
        ExecRepair("DELETE FROM idata_%d WHERE idata_timestamp>%llu", id, now))
      ErrorsFixed++;
  }
  snprintf(query, sizeof(query), "SELECT count(*) FROM raw_dci_values WHERE last_poll_time>%llu", now);
  Result polled(SelectSql(query));
  if (DBGetNumRows(polled.get()) > 0 && DBGetFieldInt64(polled.get(), 0, 0) > 0 &&
      ReportDefect("\rFound DCIs with last poll timestamp in the future. Fix it?") &&
      ExecRepair("UPDATE raw_dci_values SET last_poll_time=%llu WHERE last_poll_time>%llu", now, now))
    ErrorsFixed++;
  EndCheckStage();
}
