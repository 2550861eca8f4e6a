// Step 227 -> 228: every old map (maps, with object positions and links
// per submap) becomes a network map object. Only the map's root submap is
// carried over; the old tables stay until 231 -> 232 drops them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "runtime/runtime.h"
#include "runtime/tv_string.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "upgrade/helpers.h"
#include "upgrade/network_map_object.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

// object_properties.name is varchar(63); a longer map name (maps allows
// 255) would fail the whole step on engines that check the width.
constexpr int kObjectNameChars = 63;

// The whole text of a cell, decoded from the escaped form.
std::string DecodedField(db_result_t result, int row, int column) {
  char *stored = DBGetField(result, row, column, nullptr, 0);
  std::string text(stored);
  free(stored);
  DecodeSQLString(text.data());
  text.resize(strlen(text.c_str()));
  return text;
}

// The conversions below stop at their first failed statement even under
// IgnoreSqlErrors: the next map's id is taken from object_properties, so
// going on after a half-written map would only collide with it. The step
// rule then decides whether the step ends.

// The new map object's id, or 0 when a statement failed (reported).
uint32_t CreateMapObject(const std::string &name, const std::string &description) {
  Result maxId(SelectSql("SELECT max(object_id) FROM object_properties"));
  if (maxId == nullptr) return 0;
  // Ids below 10 belong to the built-in objects.
  uint32_t id = DBGetFieldULong(maxId.get(), 0, 0) + 1;
  if (id < 10) id = 10;

  String map;
  map.addFormattedString(
      "INSERT INTO network_maps (id,map_type,layout,seed,background)"
      " VALUES (%d,0,32767,0,'00000000-0000-0000-0000-000000000000')",
      static_cast<int>(id));
  if (!ExecSql(map)) return 0;

  uuid_t guid;
  char guidText[37];
  uuid_generate(guid);
  uuid_to_string(guid, guidText);
  String object;
  object.addFormattedString(
      "INSERT INTO object_properties ("
      "object_id,"
      "guid,"
      "name,"
      "status,"
      "is_deleted,"
      "is_system,"
      "inherit_access_rights,"
      "last_modified,"
      "status_calc_alg,"
      "status_prop_alg,"
      "status_fixed_val,"
      "status_shift,"
      "status_translation,"
      "status_single_threshold,"
      "status_thresholds,"
      "location_type,"
      "latitude,"
      "longitude,"
      "image,"
      "comments)"
      " VALUES ("
      "%d,"
      "'%s',"
      "%s,"
      "0,"
      "0,"
      "0,"
      "1,"
      "%lld,"
      "0,"
      "0,"
      "0,"
      "0,"
      "'0',"
      "0,"
      "'00000000',"
      "0,"
      "'0.000000',"
      "'0.000000',"
      "'00000000-0000-0000-0000-000000000000',"
      "%s)",
      static_cast<int>(id), guidText, DBPrepareString(DbHandle, name.c_str(), kObjectNameChars).cstr(),
      static_cast<long long>(time(nullptr)), DBPrepareString(DbHandle, description.c_str(), -1).cstr());
  if (!ExecSql(object)) return 0;

  String membership;
  membership.addFormattedString("INSERT INTO container_members (container_id,object_id) VALUES (6,%d)",
                                static_cast<int>(id));
  return ExecSql(membership) ? id : 0;
}

// Each object position of the submap becomes an object element of map
// mapObject. Returns false when a statement failed (reported).
bool ConvertMapElements(uint32_t mapId, uint32_t submapId, uint32_t mapObject) {
  String query;
  query.addFormattedString(
      "SELECT object_id,x,y FROM submap_object_positions WHERE map_id=%d AND submap_id=%d",
      static_cast<int>(mapId), static_cast<int>(submapId));
  Result positions(SelectSql(query));
  if (positions == nullptr) return false;
  int rows = DBGetNumRows(positions.get());
  for (int row = 0; row < rows; row++) {
    uint32_t objectId = DBGetFieldULong(positions.get(), row, 0);
    NetworkMapObject element{objectId, objectId, DBGetFieldLong(positions.get(), row, 1),
                             DBGetFieldLong(positions.get(), row, 2)};
    String statement;
    statement.addFormattedString(
        "INSERT INTO network_map_elements (map_id,element_id,element_type,element_data)"
        " VALUES (%d,%d,%d,%s)",
        static_cast<int>(mapObject), static_cast<int>(objectId), kMapElementObject,
        DBPrepareString(DbHandle, NetworkMapElementXml(element).c_str(), -1).cstr());
    if (!ExecSql(statement)) return false;
  }
  return true;
}

// Each link of the submap becomes a link of map mapObject, its ports the
// connector names. Returns false when a statement failed (reported).
bool ConvertMapLinks(uint32_t mapId, uint32_t submapId, uint32_t mapObject) {
  String query;
  query.addFormattedString(
      "SELECT object_id1,object_id2,port1,port2,link_type FROM submap_links WHERE map_id=%d AND submap_id=%d",
      static_cast<int>(mapId), static_cast<int>(submapId));
  Result links(SelectSql(query));
  if (links == nullptr) return false;
  int rows = DBGetNumRows(links.get());
  for (int row = 0; row < rows; row++) {
    String statement;
    statement.addFormattedString(
        "INSERT INTO network_map_links ("
        "map_id,"
        "element1,"
        "element2,"
        "link_type,"
        "link_name,"
        "connector_name1,"
        "connector_name2)"
        " VALUES (%d,%d,%d,%d,'',%s,%s)",
        static_cast<int>(mapObject), static_cast<int>(DBGetFieldULong(links.get(), row, 0)),
        static_cast<int>(DBGetFieldULong(links.get(), row, 1)), DBGetFieldLong(links.get(), row, 4),
        DBPrepareString(DbHandle, DecodedField(links.get(), row, 2).c_str(), -1).cstr(),
        DBPrepareString(DbHandle, DecodedField(links.get(), row, 3).c_str(), -1).cstr());
    if (!ExecSql(statement)) return false;
  }
  return true;
}

// Returns false at the first failed statement (reported); the maps
// converted before it stay in the step's transaction.
bool ConvertNetworkMaps() {
  Result maps(SelectSql("SELECT map_id,map_name,description,root_object_id FROM maps"));
  if (maps == nullptr) return false;
  int rows = DBGetNumRows(maps.get());
  for (int row = 0; row < rows; row++) {
    uint32_t mapObject = CreateMapObject(DecodedField(maps.get(), row, 1), DecodedField(maps.get(), row, 2));
    if (mapObject == 0) return false;
    uint32_t mapId = DBGetFieldULong(maps.get(), row, 0);
    uint32_t rootSubmap = DBGetFieldULong(maps.get(), row, 3);
    if (!ConvertMapElements(mapId, rootSubmap, mapObject) || !ConvertMapLinks(mapId, rootSubmap, mapObject))
      return false;
  }
  return true;
}

constexpr Action kStep227[] = {
    Statement{"DROP TABLE web_maps"},
    Conversion{ConvertNetworkMaps},
};

constexpr UpgradeStep kRows[] = {
    {227, 228, kStep227},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps227To228 = kRows;
