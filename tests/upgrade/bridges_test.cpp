// The legacy bridges of the versions 92 to 105 on the real engines, and
// every entry version around them (92 to 105 and the main line 200 to
// 214) up to the tool's version, ending with the schema of a fresh
// database.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "fixtures.h"
#include "session/globals.h"
#include "support/test_db.h"
#include "upgrade/steps.h"

namespace {

using upgradetest::DatabaseAtVersion;
using upgradetest::SchemaColumns;
using upgradetest::UpgradeOutput;
using upgradetest::UpgradeTo;

// The version the whole chain reaches from version in this build: the
// tool's version, or where it breaks.
int ChainEnd(int version) {
  while (version < kToolSchemaVersion) {
    const UpgradeStep *step = FindUpgradeStep(version);
    if (step == nullptr) break;
    version = step->to;
  }
  return version;
}

// What an upgrade from version to target prints with -f.
std::string Messages(int version, int target) {
  std::string out = "Upgrading database...\n";
  while (version < target) {
    int to = FindUpgradeStep(version)->to;
    out += "Upgrading from version " + std::to_string(version) + " to " + std::to_string(to) + "\n";
    if (version == 205)
      out +=
          "This database upgrade requires log conversion. This can take significant amount of time (up to few "
          "hours for large databases). If preserving all log records is not very important, it is recommended "
          "to clear logs befor conversion. Clear logs? (Y/N) Y\n";
    version = to;
  }
  return out + "Database upgrade succeeded\n";
}

class EntryVersion : public ::testing::TestWithParam<std::tuple<std::string, int>> {};

// A database at every entry version reaches the schema of a fresh
// database: the tables, columns, types and nullability of the init
// script. While the build lacks a later step, it reaches what the main
// line reaches there instead.
TEST_P(EntryVersion, ReachesTheSchemaOfAFreshDatabase) {
  auto [engine, version] = GetParam();
  int target = ChainEnd(200);
  std::string expected;
  if (target == kToolSchemaVersion) {
    if (auto fresh = tvtest::OpenOrSkip(engine); fresh && fresh->initSchema())
      expected = SchemaColumns(*fresh);
  } else if (auto mainLine = DatabaseAtVersion(engine, target)) {
    expected = SchemaColumns(*mainLine);
  }
  if (expected.empty()) return;
  auto db = DatabaseAtVersion(engine, version);
  if (!db) return;
  EXPECT_EQ(UpgradeTo(*db, target), Messages(version, target));
  if (engine == "mysql") db->reconnect();
  EXPECT_EQ(SchemaColumns(*db), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, EntryVersion,
    ::testing::Combine(::testing::ValuesIn(tvtest::AllEngines()),
                       ::testing::Values(92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 200,
                                         205, 206, 209, 210, 213, 214)),
    [](const auto &info) { return std::get<0>(info.param) + "_" + std::to_string(std::get<1>(info.param)); });

class Bridges : public ::testing::TestWithParam<std::string> {};

// Rows that tell which steps a bridge replays: each replayed step
// decodes its own column, and a step that is not replayed leaves it
// encoded. 209 -> 210 would delete the stray index template, 216 -> 217
// would decode the community.
TEST_P(Bridges, TenXBridgesReplayTheStepsTheDatabaseLacks) {
  const struct {
    int version;
    int to;
    const char *decoded;  // trap tag (211 -> 212)|unit name (212 -> 213)|script (213 -> 214)
  } cases[] = {
      {100, 214, "A|A|A"},     {101, 214, "A|A|A"},       {102, 214, "#41|A|A"},
      {103, 214, "#41|#41|A"}, {104, 214, "#41|#41|#41"}, {105, 217, "#41|#41|#41"},
  };
  for (const auto &c : cases) {
    auto db = DatabaseAtVersion(GetParam(), c.version);
    if (!db) return;
    ASSERT_TRUE(db->execAll(
        {"INSERT INTO nodes (id,community) VALUES (1,'p#41')",
         "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_code,user_tag,description) VALUES (99,'.1',0,'#41','d')",
         "INSERT INTO items (item_id,node_id,datatype,custom_units_name) VALUES (99,1,0,'#41')",
         "INSERT INTO script_library (script_id,script_name,script_code) VALUES (99,'s','#41')",
         "INSERT INTO metadata (var_name,var_value) VALUES ('IDataIndexCreationCommand_5','x')"}));
    std::string out = UpgradeTo(*db, c.to);
    EXPECT_EQ(out, "Upgrading database...\nUpgrading from version " + std::to_string(c.version) + " to " +
                       std::to_string(c.to) + "\nDatabase upgrade succeeded\n");
    EXPECT_EQ(db->rows("SELECT t.user_tag,i.custom_units_name,s.script_code FROM snmp_trap_cfg t,items i,"
                       "script_library s WHERE t.trap_id=99 AND i.item_id=99 AND s.script_id=99"),
              c.decoded)
        << c.version;
    EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='IDataIndexCreationCommand_5'"), "x");
    EXPECT_EQ(db->value("SELECT count(*) FROM event_cfg WHERE event_code BETWEEN 53 AND 55"), "3");
    EXPECT_EQ(db->rows("SELECT count(*),min(min_passwd_length) FROM users"), "1|-1");
    EXPECT_EQ(db->value("SELECT count(system_tag) FROM items"), "0");
    for (const char *table : {"ap_common", "ap_bindings", "ap_config_files"})
      EXPECT_EQ(db->value(std::string("SELECT count(*) FROM ") + table), "0") << table;
    EXPECT_EQ(db->value("SELECT community FROM nodes WHERE id=1"), "p#41");
    if (c.version == 105) {
      EXPECT_EQ(db->value("SELECT count(*) FROM network_maps"), "0");
      EXPECT_EQ(db->value("SELECT count(DISTINCT guid) FROM object_properties"),
                db->value("SELECT count(*) FROM object_properties"));
      EXPECT_EQ(db->value("SELECT file_name FROM ap_config_files").substr(0, 7), "<error:");
    } else {
      EXPECT_EQ(db->value("SELECT count(*) FROM network_maps").substr(0, 7), "<error:");
    }
  }
}

// A replayed step that fails takes the whole bridge with it: the agent
// policy tables and the steps replayed before are rolled back. MySQL
// commits every ALTER TABLE at once, so it has no such rollback.
TEST_P(Bridges, FailedReplayedStepUndoesTheWholeBridge) {
  if (GetParam() == "mysql") GTEST_SKIP() << "MySQL commits each ALTER TABLE at once";
  auto db = DatabaseAtVersion(GetParam(), 102);
  if (!db) return;
  ASSERT_TRUE(db->exec("ALTER TABLE items RENAME COLUMN perftab_settings TO perftab"));
  std::string out = UpgradeOutput(*db, 214);
  EXPECT_TRUE(out.starts_with("Upgrading database...\nUpgrading from version 102 to 214\nSQL query failed ("))
      << out;
  EXPECT_NE(out.find("UPDATE items SET perftab_settings=''"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"))
      << out;
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), "102");
  EXPECT_EQ(db->value("SELECT count(*) FROM ap_common").substr(0, 7), "<error:");
  EXPECT_EQ(db->value("SELECT count(system_tag) FROM items").substr(0, 7), "<error:");
}

INSTANTIATE_TEST_SUITE_P(Engines, Bridges, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
