// Steps 216 -> 228 on every engine: entry versions that reach the schema
// of a fresh database, the recoded SNMP and item texts, the columns and
// rows of the simple steps, and steps that fail or go on under -X.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/db.h"
#include "fixtures.h"
#include "session/globals.h"
#include "upgrade/steps.h"

namespace {

using upgradetest::StepLines;

using upgradetest::DatabaseAtVersion;
using upgradetest::ReportsFailure;
using upgradetest::RunUpgrade;
using upgradetest::SchemaColumns;
using upgradetest::UpgradeTo;
using upgradetest::WithoutBanner;

class Steps216To228 : public ::testing::TestWithParam<std::string> {};

std::string FreshSchema(const std::string &engine) {
  auto db = tvtest::OpenOrSkip(engine);
  return db && db->initSchema() ? SchemaColumns(*db) : "";
}

TEST_P(Steps216To228, EntryVersionsReachTheFreshSchema) {
  const std::string fresh = FreshSchema(GetParam());
  if (fresh.empty()) return;
  for (int version : {216, 220, 227}) {
    auto db = DatabaseAtVersion(GetParam(), version);
    if (!db) return;
    upgradetest::ExpectUpgradeReachesSchema(*db, version, fresh);
  }
}

// Stored texts in the escaped form and what 216 -> 217 and 217 -> 218
// leave of them.
const struct {
  const char *stored;
  const char *plain;
} kTexts[] = {
    {"#00", ""},
    {"a#0D#0Ab", "a\r\nb"},
    {"it#27s 100#25", "it's 100%"},
    {"x#5Cy #22q#22", "x\\y \"q\""},
    {"caf#E9", "caf\xC3\xA9"},
    {"no escapes", "no escapes"},
    {"ab#zz#4", "ab#zz#4"},
};

TEST_P(Steps216To228, SnmpAndItemTextsAreStoredPlain) {
  auto db = DatabaseAtVersion(GetParam(), 216);
  if (!db) return;
  const std::string nodeColumns =
      "community,usm_auth_password,usm_priv_password,snmp_oid,secret,agent_version,platform_name,uname";
  const std::string itemColumns = "name,description,transformation,instance";
  int id = 1;
  for (const auto &t : kTexts) {
    const std::string n = std::to_string(id++), s = std::string("'") + t.stored + "'";
    db->execAll({"INSERT INTO nodes (id," + nodeColumns + ") VALUES (" + n + "," + s + "," + s + "," + s +
                     "," + s + "," + s + "," + s + "," + s + "," + s + ")",
                 "INSERT INTO items (item_id," + itemColumns + ") VALUES (" + n + "," + s + "," + s + "," +
                     s + "," + s + ")",
                 "INSERT INTO snmp_communities (id,community) VALUES (" + n + "," + s + ")"});
  }
  UpgradeTo(*db, 218);
  id = 1;
  for (const auto &t : kTexts) {
    const std::string n = std::to_string(id++), p = t.plain;
    EXPECT_EQ(db->rows("SELECT " + nodeColumns + ",snmp_port FROM nodes WHERE id=" + n),
              p + "|" + p + "|" + p + "|" + p + "|" + p + "|" + p + "|" + p + "|" + p + "|161")
        << t.stored;
    EXPECT_EQ(db->rows("SELECT " + itemColumns + ",snmp_port FROM items WHERE item_id=" + n),
              p + "|" + p + "|" + p + "|" + p + "|0")
        << t.stored;
    EXPECT_EQ(db->value("SELECT community FROM snmp_communities WHERE id=" + n), p) << t.stored;
  }
}

TEST_P(Steps216To228, ColumnsAndRowsOfTheSimpleSteps) {
  auto db = DatabaseAtVersion(GetParam(), 218);
  if (!db) return;
  db->execAll({"INSERT INTO nodes (id,community,primary_ip,node_type) VALUES (11,'public','10.0.0.11',2)",
               "INSERT INTO nodes (id,community) VALUES (12,'public')",
               "INSERT INTO interfaces (id,synthetic_mask) VALUES (1,0)",
               "INSERT INTO interfaces (id,synthetic_mask) VALUES (2,5)",
               "INSERT INTO interfaces (id,synthetic_mask) VALUES (3,-1)",
               "INSERT INTO interfaces (id) VALUES (4)",
               "INSERT INTO zones (id,zone_guid,zone_type,controller_ip) VALUES (5,7,1,'10.0.0.1')",
               "INSERT INTO zone_ip_addr_list (zone_id,ip_addr) VALUES (5,'10.0.0.2')",
               "INSERT INTO clusters (id,cluster_type) VALUES (20,1)",
               "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (100,'.1.3.6',2,0)"});
  UpgradeTo(*db, 227);
  EXPECT_EQ(db->rows("SELECT id,snmp_sys_name,primary_name FROM nodes ORDER BY id"),
            "11||10.0.0.11\n12||<null>");
  EXPECT_EQ(db->rows("SELECT id,bridge_port,phy_slot,phy_port,peer_node_id,peer_if_id,description,flags "
                     "FROM interfaces ORDER BY id"),
            "1|0|0|0|0|0||0\n2|0|0|0|0|0||1\n3|0|0|0|0|0||1\n4|0|0|0|0|0||0");
  EXPECT_EQ(db->rows("SELECT id,zone_guid,agent_proxy,snmp_proxy,icmp_proxy FROM zones ORDER BY id"),
            "5|7|0|0|0");
  EXPECT_EQ(db->rows("SELECT id,zone_guid FROM clusters"), "20|0");
  EXPECT_EQ(
      db->value("SELECT count(*) FROM object_properties WHERE image='00000000-0000-0000-0000-000000000000'"),
      db->value("SELECT count(*) FROM object_properties"));
  EXPECT_EQ(db->rows("SELECT name,guid,mimetype,category,protected FROM images ORDER BY name"),
            "ATM|1ddb76a3-a05f-4a42-acda-22021768feaf|image/png|Network Objects|1\n"
            "HSM|b314cf44-b2aa-478e-b23a-73bc5bb9a624|image/png|Network Objects|1\n"
            "Node|904e7291-ee3f-41b7-8132-2bd29288ecc8|image/png|Network Objects|1\n"
            "Printer|f5214d16-1ab1-4577-bb21-063cfd45d7af|image/png|Network Objects|1\n"
            "Router|bacde727-b183-4e6c-8dca-ab024c88b999|image/png|Network Objects|1\n"
            "Server|ba6ab507-f62d-4b8f-824c-ca9d46f22375|image/png|Network Objects|1\n"
            "Service|092e4b35-4e7c-42df-b9b7-d5805bfac64e|image/png|Network Objects|1\n"
            "Switch|f9105c54-8dcf-483a-b387-b4587dfd3cba|image/png|Network Objects|1\n"
            "Unknown|7cd999e9-fbe0-45c3-a695-f84523b3a50c|image/png|Network Objects|1");
  for (const char *gone : {"oid_to_type", "zone_ip_addr_list"})
    EXPECT_EQ(db->value(std::string("SELECT count(*) FROM ") + gone).substr(0, 7), "<error:") << gone;
  for (const char *gone :
       {"nodes.node_type", "zones.zone_type", "zones.controller_ip", "interfaces.synthetic_mask"})
    EXPECT_EQ(SchemaColumns(*db).find(std::string("\n") + gone + " "), std::string::npos) << gone;
}

// An images table that is already there fails 218 -> 219: without -X the
// step is undone and the upgrade stops; with -X the rows are still
// inserted and the upgrade goes on (on PostgreSQL too, inside the step's
// transaction).
TEST_P(Steps216To228, ExistingImagesTable) {
  const std::string images =
      "CREATE TABLE images (guid varchar(36) not null,mimetype varchar(64) not null,name varchar(255) not null,"
      "category varchar(255) not null,protected integer default 0,PRIMARY KEY(guid),UNIQUE(name,category))";
  auto db = DatabaseAtVersion(GetParam(), 218);
  if (!db) return;
  db->exec(images);
  std::string out = WithoutBanner(RunUpgrade(*db).out);
  EXPECT_EQ(out.substr(0, out.find("SQL query failed")),
            "Upgrading database...\nUpgrading from version 218 to 219\n");
  EXPECT_EQ(out.substr(out.find("\nRolling")),
            "\nRolling back last stage due to upgrade errors...\nDatabase upgrade failed\n");
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), "218");
  EXPECT_EQ(db->value("SELECT count(*) FROM images"), "0");

  out = WithoutBanner(RunUpgrade(*db, {"-X"}).out);
  EXPECT_TRUE(
      ReportsFailure(out,
                     "CREATE TABLE images (   guid varchar(36) not null,   mimetype varchar(64) not null,"
                     "   name varchar(255) not null,   category varchar(255) not null,   protected "
                     "integer default 0,      PRIMARY KEY(guid),   UNIQUE(name, category))"));
  EXPECT_TRUE(
      out.ends_with(upgradetest::StepLines(upgradetest::LastStep().from) + "Database upgrade succeeded\n"))
      << out;
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
            std::to_string(kToolSchemaVersion));
  EXPECT_EQ(db->value("SELECT count(*) FROM images WHERE category='Network Objects' AND protected=1"), "9");
}

INSTANTIATE_TEST_SUITE_P(Engines, Steps216To228, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
