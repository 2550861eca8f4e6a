#include "fixtures_216_227.h"

#include <map>
#include <vector>

#include "fixtures.h"

namespace upgradetest {
namespace {

// What to run on a database at version v + 1 to bring it back to v. The
// undone tables and columns that the upgrade drops again only need a
// plausible form; the map tables that 227 -> 228 reads have theirs.
const std::map<int, std::vector<std::string>> &UndoSteps() {
  static const std::map<int, std::vector<std::string>> steps = {
      {227,
       {"DROP TABLE maps", "DROP TABLE map_access_lists", "DROP TABLE submaps",
        "DROP TABLE submap_object_positions", "DROP TABLE submap_links",
        "CREATE TABLE maps (map_id integer not null,map_name varchar(255) not null,"
        "description $SQL:TEXT not null,root_object_id integer not null,PRIMARY KEY(map_id))",
        "CREATE TABLE map_access_lists (map_id integer not null,user_id integer not null,"
        "access_rights integer not null,PRIMARY KEY(map_id,user_id))",
        "CREATE TABLE submaps (map_id integer not null,submap_id integer not null,attributes integer not null,"
        "PRIMARY KEY(map_id,submap_id))",
        "CREATE TABLE submap_object_positions (map_id integer not null,submap_id integer not null,"
        "object_id integer not null,x integer not null,y integer not null,PRIMARY KEY(map_id,submap_id,object_id))",
        "CREATE TABLE submap_links (map_id integer not null,submap_id integer not null,object_id1 integer not null,"
        "object_id2 integer not null,link_type integer not null,port1 varchar(255),port2 varchar(255),"
        "PRIMARY KEY(map_id,submap_id,object_id1,object_id2))",
        "INSERT INTO maps (map_id,map_name,description,root_object_id) VALUES (1,'Default','Default network map',1)",
        "INSERT INTO map_access_lists (map_id,user_id,access_rights) VALUES (1,-2147483648,1)",
        "CREATE TABLE web_maps (id integer not null,title varchar(63) not null,properties $SQL:TEXT not null,"
        "data $SQL:TEXT not null,PRIMARY KEY(id))"}},
      {226, {"ALTER TABLE clusters DROP COLUMN zone_guid"}},
      {225,
       {"ALTER TABLE interfaces DROP COLUMN flags", "ALTER TABLE interfaces ADD synthetic_mask integer"}},
      {224, {"ALTER TABLE interfaces DROP COLUMN description"}},
      {223,
       {"ALTER TABLE zones DROP COLUMN agent_proxy", "ALTER TABLE zones DROP COLUMN snmp_proxy",
        "ALTER TABLE zones DROP COLUMN icmp_proxy", "ALTER TABLE zones ADD zone_type integer",
        "ALTER TABLE zones ADD controller_ip varchar(15)",
        "CREATE TABLE zone_ip_addr_list (zone_id integer not null,ip_addr varchar(15) not null,"
        "PRIMARY KEY(zone_id,ip_addr))"}},
      {222,
       {"ALTER TABLE nodes DROP COLUMN primary_name", "ALTER TABLE nodes ADD node_type integer",
        "CREATE TABLE oid_to_type (pair_id integer not null,snmp_oid varchar(255) not null,"
        "node_type integer not null,node_flags integer not null,PRIMARY KEY(pair_id))"}},
      {221, {"ALTER TABLE object_properties DROP COLUMN image"}},
      {220,
       {"ALTER TABLE network_maps DROP COLUMN background",
        "ALTER TABLE network_maps ADD background integer"}},
      {219,
       {"ALTER TABLE interfaces DROP COLUMN bridge_port", "ALTER TABLE interfaces DROP COLUMN phy_slot",
        "ALTER TABLE interfaces DROP COLUMN phy_port", "ALTER TABLE interfaces DROP COLUMN peer_node_id",
        "ALTER TABLE interfaces DROP COLUMN peer_if_id", "ALTER TABLE nodes DROP COLUMN snmp_sys_name"}},
      {218, {"DROP TABLE images"}},
      {217, {}},
      {216, {"ALTER TABLE nodes DROP COLUMN snmp_port", "ALTER TABLE items DROP COLUMN snmp_port"}},
  };
  return steps;
}

// The engine's type for "$SQL:TEXT", as the tool's batches expand it.
std::string WithTextType(const std::string &engine, std::string statement) {
  const std::string macro = "$SQL:TEXT";
  for (size_t at; (at = statement.find(macro)) != std::string::npos;)
    statement.replace(at, macro.size(), engine == "sqlite" ? "varchar" : "text");
  return statement;
}

}  // namespace

std::unique_ptr<tvtest::TestDatabase> DatabaseBefore228(const std::string &engine, int version) {
  std::unique_ptr<tvtest::TestDatabase> db = DatabaseAt(engine, 228);
  if (db == nullptr) return nullptr;
  for (int v = 227; v >= version; v--) {
    std::vector<std::string> statements;
    for (const std::string &s : UndoSteps().at(v)) statements.push_back(WithTextType(engine, s));
    if (!statements.empty() && !db->execAll(statements)) return nullptr;
  }
  db->exec("UPDATE metadata SET var_value='" + std::to_string(version) + "' WHERE var_name='SchemaVersion'");
  if (engine == "mysql") db->reconnect();
  return db;
}

}  // namespace upgradetest
