// Zones, interfaces, network services, cluster members and timestamps of
// the object tree.
#include <uuid/uuid.h>
#include <cstdio>

#include "check/check_stage.h"
#include "external/runtime.h"
#include "session/sql_exec.h"

namespace {

// The zone every server creates at installation; it never has properties.
constexpr int32_t kDefaultZoneId = 4;

}  // namespace

// On MySQL and MariaDB the comments column is TEXT NOT NULL, which cannot
// have a default, so without an explicit empty comment the repair always
// fails there in strict mode; the other engines take the same row.
bool CreateLostProperties(int32_t id, const char *name) {
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

void CheckZones() {
  BeginCheckStage("Checking zone objects...");
  ResultHolder zones(SelectSql("SELECT id FROM zones"));
  if (zones) {
    RowLookup properties("SELECT name,is_deleted FROM object_properties WHERE object_id=%d");
    for (int i = 0; i < zones.rows(); i++) {
      int32_t id = IdAt(zones.get(), i, 0);
      ResultHolder found(properties.select(id));
      if (!found || found.rows() > 0 || id == kDefaultZoneId) continue;
      char name[64];
      snprintf(name, sizeof(name), "lost_zone_%d", id);
      if (ReportDefect("\rMissing zone object %d properties. Create?", id) && CreateLostProperties(id, name))
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
  snprintf(query, sizeof(query), "SELECT id,node_id FROM %s", table);
  ResultHolder components(SelectSql(query));
  if (components) {
    RowLookup properties("SELECT name,is_deleted FROM object_properties WHERE object_id=%d");
    RowLookup liveNode("SELECT name FROM object_properties WHERE object_id=%d AND is_deleted=0");
    for (int i = 0; i < components.rows(); i++) {
      int32_t id = IdAt(components.get(), i, 0);
      int32_t nodeId = IdAt(components.get(), i, 1);
      char name[kNameBufferSize] = "";
      {
        ResultHolder own(properties.select(id));
        if (own.rows() > 0) {
          ReadObjectName(own.get(), 0, 0, name);
        } else if (own) {
          char lostName[128];
          snprintf(lostName, sizeof(lostName), "lost_%s_%d", word, id);
          if (ReportDefect("\rMissing %s object %d properties. Create?", word, id) &&
              CreateLostProperties(id, lostName))
            ErrorsFixed++;
        }
      }
      ResultHolder node(liveNode.select(nodeId));
      if (!node || node.rows() > 0) continue;
      if (!ReportDefect("\rUnlinked %s object %d (\"%s\"). Delete it?", word, id, name)) continue;
      if (!ExecRepair("DELETE FROM %s WHERE id=%d", table, id)) continue;
      // The object itself is gone; a leftover properties row is harmless.
      ExecRepair("DELETE FROM object_properties WHERE object_id=%d", id);
      ErrorsFixed++;
    }
  }
  EndCheckStage();
}

void CheckClusters() {
  BeginCheckStage("Checking cluster objects...");
  ResultHolder members(SelectSql("SELECT cluster_id,node_id FROM cluster_members"));
  if (members) {
    RowLookup node("SELECT id FROM nodes WHERE id=%d");
    RowLookup clusterName("SELECT name FROM object_properties WHERE object_id=%d");
    for (int i = 0; i < members.rows(); i++) {
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
  ResultHolder objects(SelectSql("SELECT object_id,name,last_modified FROM object_properties"));
  for (int i = 0; i < objects.rows(); i++) {
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
