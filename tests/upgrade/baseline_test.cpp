// The version-14 baseline itself: it loads on every engine as a database
// the tool reads as version 14, it leaves the columns that later steps
// drop droppable, and the whole upgrade takes it to the schema of a fresh
// database.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "fixtures.h"
#include "session/globals.h"
#include "upgrade/steps.h"

namespace {

using upgradetest::DatabaseAtVersion;
using upgradetest::RunUpgrade;
using upgradetest::SchemaColumns;
using upgradetest::WithoutBanner;

class Baseline : public ::testing::TestWithParam<std::string> {};

std::set<std::string> Lines(const std::string &rows) {
  std::set<std::string> lines;
  std::stringstream in(rows);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

TEST_P(Baseline, IsAVersion14DatabaseOfItsEngine) {
  auto db = DatabaseAtVersion(GetParam(), 14);
  if (!db) return;
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 14);
  EXPECT_EQ(DBGetSyntax(db->handle()), db->syntax());
  EXPECT_EQ(db->rows("SELECT id,access FROM users"), "0|65535");
  EXPECT_EQ(db->rows("SELECT id,access FROM user_groups"), "-2147483648|0");
}

// SQLite cannot drop an indexed column, SQL Server not one with a
// default: the columns the steps drop have neither.
TEST_P(Baseline, ColumnsThatStepsDropHaveNoIndexAndNoDefault) {
  auto db = DatabaseAtVersion(GetParam(), 14);
  if (!db) return;
  std::string indexed, defaulted;
  if (GetParam() == "sqlite") {
    indexed =
        "SELECT lower(m.name||'.'||ii.name) FROM sqlite_master m JOIN pragma_index_list(m.name) il "
        "JOIN pragma_index_info(il.name) ii WHERE m.type='table'";
    defaulted =
        "SELECT lower(m.name||'.'||p.name) FROM sqlite_master m JOIN pragma_table_info(m.name) p "
        "WHERE m.type='table' AND p.dflt_value IS NOT NULL";
  } else if (GetParam() == "pgsql") {
    indexed =
        "SELECT t.relname||'.'||a.attname FROM pg_index i JOIN pg_class t ON t.oid=i.indrelid "
        "JOIN pg_namespace n ON n.oid=t.relnamespace "
        "JOIN pg_attribute a ON a.attrelid=t.oid AND a.attnum=ANY(i.indkey) WHERE n.nspname=current_schema()";
    defaulted =
        "SELECT table_name||'.'||column_name FROM information_schema.columns "
        "WHERE table_schema=current_schema() AND column_default IS NOT NULL";
  } else {
    indexed =
        "SELECT lower(concat(table_name,'.',column_name)) FROM information_schema.statistics "
        "WHERE table_schema=database()";
    // MariaDB shows a nullable column without default as 'NULL'.
    defaulted =
        "SELECT lower(concat(table_name,'.',column_name)) FROM information_schema.columns "
        "WHERE table_schema=database() AND column_default IS NOT NULL AND column_default<>'NULL'";
  }
  std::set<std::string> withIndex = Lines(db->rows(indexed)), withDefault = Lines(db->rows(defaulted));
  ASSERT_TRUE(withIndex.count("acl.user_id")) << "the index query finds nothing";
  const char *const dropped[] = {"nodes.inherit_access_rights",
                                 "nodes.is_snmp",
                                 "nodes.is_agent",
                                 "nodes.is_bridge",
                                 "nodes.is_router",
                                 "nodes.is_local_mgmt",
                                 "nodes.name",
                                 "nodes.status",
                                 "nodes.is_deleted",
                                 "nodes.image_id",
                                 "nodes.discovery_flags",
                                 "nodes.description",
                                 "nodes.node_type",
                                 "nodes.community",
                                 "alarms.source_event_id",
                                 "alarms.severity",
                                 "alarms.alarm_timestamp",
                                 "alarms.is_ack",
                                 "interfaces.name",
                                 "interfaces.status",
                                 "interfaces.is_deleted",
                                 "interfaces.image_id",
                                 "subnets.name",
                                 "subnets.status",
                                 "subnets.is_deleted",
                                 "subnets.image_id",
                                 "templates.name",
                                 "templates.is_deleted",
                                 "templates.image_id",
                                 "templates.description",
                                 "containers.name",
                                 "containers.status",
                                 "containers.is_deleted",
                                 "containers.image_id",
                                 "containers.description",
                                 "users.access",
                                 "user_groups.access",
                                 "event_policy.alarm_ack_key"};
  for (const char *column : dropped) {
    EXPECT_FALSE(withIndex.count(column)) << GetParam() << ": " << column << " is indexed";
    EXPECT_FALSE(withDefault.count(column)) << GetParam() << ": " << column << " has a default";
  }
}

// The steps from 14 on, end to end through the command: the baseline
// ends with the tables and columns of a fresh database.
TEST_P(Baseline, UpgradesToTheFreshSchema) {
  for (int version = 14; version != kToolSchemaVersion;) {
    const UpgradeStep *step = FindUpgradeStep(version);
    if (step == nullptr) GTEST_SKIP() << "this build has no step from version " << version;
    version = step->to;
  }
  // The fresh database gets the same two collected-data tables, from its
  // own template.
  std::string fresh;
  if (auto db = tvtest::OpenOrSkip(GetParam()); db && db->initSchema()) {
    std::string format =
        db->value("SELECT var_value FROM metadata WHERE var_name='IDataTableCreationCommand'");
    ASSERT_NE(format.find("%d"), std::string::npos) << format;
    for (const char *id : {"100", "101"}) db->exec(std::string(format).replace(format.find("%d"), 2, id));
    fresh = SchemaColumns(*db);
  }
  if (fresh.empty()) return;
  auto db = DatabaseAtVersion(GetParam(), 14,
                              {.nodes = {.firstNode = 100, .nodes = 2, .itemsPerNode = 2, .rowsPerItem = 2}});
  if (!db) return;
  tvtest::RunResult r = RunUpgrade(*db, {"-f"});
  std::string out = WithoutBanner(r.out);
  EXPECT_TRUE(
      out.ends_with(upgradetest::StepLines(upgradetest::LastStep().from) + "Database upgrade succeeded\n"))
      << out;
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
            std::to_string(kToolSchemaVersion));

  std::set<std::string> upgraded = Lines(SchemaColumns(*db)), expected = Lines(fresh);
  for (const std::string &line : expected)
    EXPECT_TRUE(upgraded.count(line)) << GetParam() << ": missing " << line;
  for (const std::string &line : upgraded)
    EXPECT_TRUE(expected.count(line)) << GetParam() << ": unexpected " << line;
}

INSTANTIATE_TEST_SUITE_P(Engines, Baseline, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
