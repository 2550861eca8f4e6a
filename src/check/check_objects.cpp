// Zones, interfaces, network services and timestamps of the object tree.
#include <uuid/uuid.h>
#include <cstdio>
#include <string>
#include <vector>

#include "check/check_screen.h"
#include "check/check_sets.h"
#include "check/check_stage.h"
#include "runtime/runtime.h"
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

// Only zones without properties are read. When the query fails no zone is
// judged, as when each zone's lookup fails.
void CheckZones() {
  BeginCheckStage("Checking zone objects...");
  const KeyWalk zones{.columns = "z.id",
                      .from = "zones z LEFT JOIN object_properties p ON p.object_id=z.id",
                      .where = "p.object_id IS NULL AND z.id<>" + std::to_string(kDefaultZoneId)};
  ForEachRowByKey(zones, [](db_result_t block, int row) {
    const int32_t id = IdAt(block, row, 0);
    char name[64];
    snprintf(name, sizeof(name), "lost_zone_%d", id);
    OfferRepair(Question("\rMissing zone object %d properties. Create?", id),
                [&] { return CreateLostProperties(id, name); });
    return true;
  });
  EndCheckStage();
}

// Whether a component after id in table names it as its node, so that a
// repair of its properties row changes what that row's lookup answers. A
// failed query (reported) counts as yes.
bool NamedAsNodeLater(const char *table, int32_t id) {
  char query[256];
  snprintf(query, sizeof(query), "SELECT count(*) FROM %s WHERE node_id=%d AND id>%d", table, id, id);
  Result count(SelectSql(query));
  return !count || DBGetFieldInt64(count.get(), 0, 0) > 0;
}

// Components whose node is a live object and that have properties are not
// read. A repair changes the properties row of its own component, which
// is what a later row naming that component as its node looks up; when
// there is such a row, the walk reads on from the repaired component, so
// that the rows after it see the repair.
void CheckComponents(const char *word, const char *table) {
  char title[256];
  snprintf(title, sizeof(title), "Checking %s objects...", word);
  BeginCheckStage(title);
  const std::string withProperties =
      std::string(table) + " c LEFT JOIN object_properties p ON p.object_id=c.id";
  const std::string liveNode = " LEFT JOIN object_properties q ON q.object_id=c.node_id AND q.is_deleted=0";
  // Every column named apart: Oracle reads a block through a subquery.
  const std::string columns = "c.id,c.node_id,p.object_id,p.name,q.object_id AS node_live";
  std::vector<KeyWalk> reasons;
  if (OneQueryPerReason()) {
    // Without properties; with a node that is not a live object.
    reasons = {{"c.id,c.node_id,p.object_id,p.name,CASE WHEN EXISTS (SELECT 1 FROM object_properties q WHERE "
                "q.object_id=c.node_id AND q.is_deleted=0) THEN 1 END AS node_live",
                withProperties, "p.object_id IS NULL"},
               {columns, withProperties + liveNode, "q.object_id IS NULL"}};
  } else {
    reasons = {{columns, withProperties + liveNode, "(p.object_id IS NULL OR q.object_id IS NULL)"}};
  }
  WalkScreen screen;
  if (ScreensInTool()) screen = [table](ScreenedKeys &keys) { return ScreenComponents(table, keys); };
  MergedWalk walk(reasons, screen);
  while (walk.next()) {
    for (const KindRow &at : walk.rows()) {
      db_result_t block = walk.result(at.kind);
      const int32_t id = at.key, nodeId = IdAt(block, at.row, 1);
      const bool hasProperties = !DBIsFieldNull(block, at.row, 2);
      bool nodeLive = !DBIsFieldNull(block, at.row, 4);
      bool repaired = false;  // the properties row of this component changed
      char name[kNameBufferSize] = "";
      if (hasProperties) {
        ReadObjectName(block, at.row, 3, name);
      } else {
        char lostName[128];
        snprintf(lostName, sizeof(lostName), "lost_%s_%d", word, id);
        if (OfferRepair(Question("\rMissing %s object %d properties. Create?", word, id),
                        [&] { return CreateLostProperties(id, lostName); })) {
          repaired = true;
          nodeLive = nodeLive || nodeId == id;  // a lost row is not flagged deleted
        }
      }
      if (!nodeLive)
        OfferRepair(Question("\rUnlinked %s object %d (\"%s\"). Delete it?", word, id, name), [&] {
          if (!ExecRepair("DELETE FROM %s WHERE id=%d", table, id)) return false;
          // The object itself is gone; a leftover properties row is harmless.
          repaired = ExecRepair("DELETE FROM object_properties WHERE object_id=%d", id) || repaired;
          return true;
        });
      if (repaired && NamedAsNodeLater(table, id)) {
        walk.resumeAfter(id);
        break;
      }
    }
  }
  EndCheckStage();
}

// Only rows whose timestamp is 0 are read.
void CheckObjectProperties() {
  BeginCheckStage("Checking object properties...");
  ForEachRowByKey(
      {.columns = "object_id,name,last_modified", .from = "object_properties", .where = "last_modified=0"},
      [](db_result_t objects, int row) {
        if (DBGetFieldULong(objects, row, 2) != 0) return true;
        const int32_t id = IdAt(objects, row, 0);
        char name[1024];
        DBGetField(objects, row, 1, name, sizeof(name));
        OfferRepair(Question("\rObject %d [%s] has invalid timestamp. Fix it?", id, name), [id] {
          return ExecRepair("UPDATE object_properties SET last_modified=%llu WHERE object_id=%d",
                            static_cast<unsigned long long>(CurrentTime()), id);
        });
        return true;
      });
  EndCheckStage();
}
