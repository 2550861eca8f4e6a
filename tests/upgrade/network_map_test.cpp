// Step 227 -> 228 on every engine: old maps with submaps, positions and
// links become network map objects whose elements and links match the
// root submap one for one; a failed conversion; and an upgraded database
// holding maps that travels through export and import.
#include <gtest/gtest.h>

#include <uuid/uuid.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/db.h"
#include "fixtures.h"
#include "session/globals.h"
#include "upgrade/network_map_object.h"

namespace {

using upgradetest::DatabaseAtVersion;
using upgradetest::RunUpgrade;
using upgradetest::UpgradeOutput;
using upgradetest::UpgradeTo;
using upgradetest::WithoutBanner;

class NetworkMaps : public ::testing::TestWithParam<std::string> {};

constexpr char kNilGuid[] = "00000000-0000-0000-0000-000000000000";

std::string Element(uint32_t object, int x, int y) {
  return std::to_string(object) + "|1|" + NetworkMapElementXml({object, object, x, y});
}

// One old map as stored (escaped texts), and what it must become.
struct OldMap {
  int id;
  const char *name;
  std::string description;
  int rootSubmap;
  std::string newName;
  std::string newComments;
  std::string elements;  // element_id|element_type|element_data, by element_id
  std::string links;     // element1|element2|link_type|link_name|connector_name1|connector_name2
};

const std::vector<OldMap> &OldMaps() {
  static const std::vector<OldMap> maps = {
      // The default map that 38 -> 39 creates, with positions in
      // its root submap 1 only.
      {1, "Default", "Default network map", 1, "Default", "Default network map", Element(101, 50, 60), ""},
      {2, "O#27Brien#27s map", "Line one#0D#0Aline two, 100#25", 7, "O'Brien's map",
       "Line one\r\nline two, 100%",
       Element(101, 10, 20) + "\n" + Element(102, -5, 300) + "\n" + Element(103, 0, 0),
       "101|102|1||eth0|\n102|103|3||Gi0/1|port '0'"},
      {3, "Caf#E9 #22net#22", "#00", 1, "Caf\xC3\xA9 \"net\"", "", "", ""},
      // The name is cut to the 63 characters of object_properties.name
      // after decoding; the description, a long text on both sides, is
      // kept whole.
      {5, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa#27bcdef",
       "x#5Cy " + std::string(3000, 'd'), 4,
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa'bc", "x\\y " + std::string(3000, 'd'),
       Element(104, 1, 2), "104|104|0|||"},
  };
  return maps;
}

void SeedOldMaps(tvtest::TestDatabase &db) {
  for (const OldMap &m : OldMaps()) {
    if (m.id == 1) continue;
    db.exec("INSERT INTO maps (map_id,map_name,description,root_object_id) VALUES (" + std::to_string(m.id) +
            ",'" + m.name + "','" + m.description + "'," + std::to_string(m.rootSubmap) + ")");
  }
  db.execAll({
      "INSERT INTO submap_object_positions (map_id,submap_id,object_id,x,y) VALUES (1,1,101,50,60)",
      "INSERT INTO submap_object_positions (map_id,submap_id,object_id,x,y) VALUES (2,7,101,10,20)",
      "INSERT INTO submap_object_positions (map_id,submap_id,object_id,x,y) VALUES (2,7,102,-5,300)",
      "INSERT INTO submap_object_positions (map_id,submap_id,object_id,x,y) VALUES (2,7,103,0,0)",
      "INSERT INTO submap_object_positions (map_id,submap_id,object_id,x,y) VALUES (5,4,104,1,2)",
      "INSERT INTO submap_links (map_id,submap_id,object_id1,object_id2,link_type,port1,port2) "
      "VALUES (2,7,101,102,1,'eth0','#00')",
      "INSERT INTO submap_links (map_id,submap_id,object_id1,object_id2,link_type,port1,port2) "
      "VALUES (2,7,102,103,3,'Gi0#2F1','port #270#27')",
      "INSERT INTO submap_links (map_id,submap_id,object_id1,object_id2,link_type,port1,port2) "
      "VALUES (5,4,104,104,0,'#00','#00')",
      // Other submaps are not carried over.
      "INSERT INTO submap_object_positions (map_id,submap_id,object_id,x,y) VALUES (2,8,105,1,1)",
      "INSERT INTO submap_object_positions (map_id,submap_id,object_id,x,y) VALUES (3,2,105,1,1)",
      "INSERT INTO submap_links (map_id,submap_id,object_id1,object_id2,link_type,port1,port2) "
      "VALUES (2,8,101,105,1,'x','y')",
      "INSERT INTO submap_links (map_id,submap_id,object_id1,object_id2,link_type,port1,port2) "
      "VALUES (3,2,101,105,1,'x','y')",
  });
}

// The new map objects by name: their ids, and everything else checked.
std::map<std::string, std::string> CheckMapObjects(tvtest::TestDatabase &db) {
  std::map<std::string, std::string> ids;
  std::set<std::string> guids;
  for (const OldMap &m : OldMaps()) {
    std::string where = " FROM object_properties WHERE name=" +
                        DBPrepareStringForSyntax(db.syntax(), m.newName.c_str()).str();
    std::string id = db.value("SELECT object_id" + where);
    if (id == "<none>" || id.substr(0, 7) == "<error:") {
      ADD_FAILURE() << "no object for " << m.newName << ": " << id;
      continue;
    }
    ids[m.newName] = id;
    EXPECT_EQ(
        db.rows("SELECT comments,status,is_deleted,is_system,inherit_access_rights,status_calc_alg,"
                "status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,"
                "status_thresholds,location_type,latitude,longitude,image" +
                where),
        m.newComments + "|0|0|0|1|0|0|0|0|0|0|00000000|0|0.000000|0.000000|" + kNilGuid)
        << m.newName;
    std::string guid = db.value("SELECT guid" + where);
    uuid_t parsed;
    EXPECT_EQ(uuid_parse(guid.c_str(), parsed), 0) << guid;
    guids.insert(guid);
    long long age = time(nullptr) - std::stoll(db.value("SELECT last_modified" + where));
    EXPECT_TRUE(age >= 0 && age < 600) << age;
    EXPECT_EQ(db.rows("SELECT map_type,layout,seed,background FROM network_maps WHERE id=" + id),
              std::string("0|32767|0|") + kNilGuid);
    EXPECT_EQ(db.value("SELECT count(*) FROM container_members WHERE container_id=6 AND object_id=" + id),
              "1");
    EXPECT_EQ(db.rows("SELECT element_id,element_type,element_data FROM network_map_elements WHERE map_id=" +
                      id + " ORDER BY element_id"),
              m.elements)
        << m.newName;
    EXPECT_EQ(db.rows("SELECT element1,element2,link_type,link_name,connector_name1,connector_name2 "
                      "FROM network_map_links WHERE map_id=" +
                      id + " ORDER BY element1"),
              m.links)
        << m.newName;
  }
  EXPECT_EQ(guids.size(), OldMaps().size());
  return ids;
}

TEST_P(NetworkMaps, OldMapsBecomeNetworkMapObjects) {
  auto db = DatabaseAtVersion(GetParam(), 227);
  if (!db) return;
  SeedOldMaps(*db);
  EXPECT_EQ(UpgradeTo(*db, 228),
            "Upgrading database...\nUpgrading from version 227 to 228\nDatabase upgrade succeeded\n");
  std::map<std::string, std::string> ids = CheckMapObjects(*db);
  // The built-in objects end at 3: the map objects take 10 and on, one
  // after the other.
  std::set<std::string> taken;
  for (const auto &[name, id] : ids) taken.insert(id);
  EXPECT_EQ(taken, (std::set<std::string>{"10", "11", "12", "13"}));
  EXPECT_EQ(db->value("SELECT count(*) FROM network_maps"), "4");
  EXPECT_EQ(db->value("SELECT count(*) FROM network_map_elements"), "5");
  EXPECT_EQ(db->value("SELECT count(*) FROM network_map_links"), "3");
  EXPECT_EQ(db->value("SELECT count(*) FROM web_maps").substr(0, 7), "<error:");
  // The old tables stay until 231 -> 232.
  EXPECT_EQ(db->value("SELECT count(*) FROM submap_links"), "5");
}

TEST_P(NetworkMaps, FirstMapObjectIdFollowsTheLargestObjectId) {
  const struct {
    const char *seed;  // run before the upgrade
    const char *maps;  // map objects after it, by id
  } cases[] = {
      {"DELETE FROM maps", ""},
      {"DELETE FROM object_properties", "10"},
      {"UPDATE object_properties SET object_id=9 WHERE object_id=3", "10"},
      {"UPDATE object_properties SET object_id=57 WHERE object_id=3", "58"},
  };
  for (const auto &c : cases) {
    auto db = DatabaseAtVersion(GetParam(), 227);
    if (!db) return;
    db->exec(c.seed);
    UpgradeTo(*db, 228);
    EXPECT_EQ(db->rows("SELECT id FROM network_maps ORDER BY id"), c.maps) << c.seed;
    EXPECT_EQ(db->rows("SELECT object_id FROM container_members WHERE container_id=6"), c.maps) << c.seed;
  }
}

// A map object that cannot be written (its id is taken in network_maps):
// without -X the step is undone; with -X the conversion stops there and
// the upgrade goes on, on PostgreSQL too.
TEST_P(NetworkMaps, FailedConversion) {
  auto db = DatabaseAtVersion(GetParam(), 227);
  if (!db) return;
  db->exec("INSERT INTO network_maps (id,map_type,layout,seed) VALUES (10,1,0,0)");
  std::string out = UpgradeOutput(*db, 228);
  EXPECT_NE(out.find("INSERT INTO network_maps (id,map_type,layout,seed,background) VALUES "
                     "(10,0,32767,0,'00000000-0000-0000-0000-000000000000')"),
            std::string::npos)
      << out;
  EXPECT_TRUE(out.ends_with("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"))
      << out;
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), "227");
  if (GetParam() != "mysql") {
    EXPECT_EQ(db->value("SELECT count(*) FROM web_maps"), "0");
  }

  tvtest::RunResult r = RunUpgrade(*db, {"-X"});
  EXPECT_TRUE(
      r.out.ends_with(upgradetest::StepLines(upgradetest::LastStep().from) + "Database upgrade succeeded\n"))
      << r.out;
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
            std::to_string(kToolSchemaVersion));
  EXPECT_EQ(db->rows("SELECT id,map_type FROM network_maps"), "10|1");
  EXPECT_EQ(db->value("SELECT count(*) FROM object_properties WHERE name='Default'"), "0");
}

// The converted maps leave NULL in network_maps (bg_zoom and the other
// columns of 229 -> 230): export and import carry it as NULL into every
// engine.
TEST_P(NetworkMaps, UpgradedMapsTravelThroughExportAndImport) {
  auto source = DatabaseAtVersion(GetParam(), 227);
  if (!source) return;
  SeedOldMaps(*source);
  ASSERT_TRUE(WithoutBanner(RunUpgrade(*source).out).ends_with("Database upgrade succeeded\n"));
  const std::string dir = tvtest::TempDir(), file = dir + "/maps.db";
  tvtest::RunResult r = tvtest::RunTool({"-c", source->configPath(), "export", file}, "", {"NO_COLOR=1"});
  ASSERT_TRUE(r.out.ends_with("Database export complete.\n")) << r.out;
  const std::string maps =
      "SELECT id,map_type,layout,seed,background,bg_latitude,bg_longitude,bg_zoom "
      "FROM network_maps ORDER BY id";
  const std::string mapRows = source->rows(maps);
  EXPECT_EQ(mapRows.substr(0, mapRows.find('\n')),
            std::string("10|0|32767|0|") + kNilGuid + "|<null>|<null>|<null>");
  for (const std::string &engine : tvtest::AllEngines()) {
    auto target = tvtest::OpenOrSkip(engine);
    if (!target || !target->initSchema()) break;
    r = tvtest::RunTool({"-f", "-c", target->configPath(), "import", file}, "", {"NO_COLOR=1"});
    if (engine == "mysql") target->reconnect();
    EXPECT_EQ(r.out.find("failed"), std::string::npos) << GetParam() << " -> " << engine << ":\n" << r.out;
    EXPECT_EQ(target->rows(maps), mapRows) << GetParam() << " -> " << engine;
    CheckMapObjects(*target);
  }
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Engines, NetworkMaps, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
