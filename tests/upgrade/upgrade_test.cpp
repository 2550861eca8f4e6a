// The upgrade command end to end: every entry version of the newest steps
// reaches the schema of a fresh database, the conversions on data, and
// the ways an upgrade stops.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "db/db.h"
#include "fixtures.h"
#include "session/globals.h"
#include "upgrade/steps.h"

namespace {

using upgradetest::StepLines;

using upgradetest::DatabaseAtVersion;
using upgradetest::LastStep;
using upgradetest::ReportsFailure;
using upgradetest::RunUpgrade;
using upgradetest::SchemaColumns;
using upgradetest::WithoutBanner;

class Upgrade : public ::testing::TestWithParam<std::string> {};

std::string Decoded(std::string text) {
  DecodeSQLString(text.data());
  text.resize(strlen(text.c_str()));
  return text;
}

TEST_P(Upgrade, EveryEntryVersionReachesTheFreshSchema) {
  std::string fresh;
  if (auto db = tvtest::OpenOrSkip(GetParam()); db && db->initSchema()) fresh = SchemaColumns(*db);
  if (fresh.empty()) return;
  for (int version : {228, 232, 233, 237, LastStep().from}) {
    auto db = DatabaseAtVersion(GetParam(), version);
    if (!db) return;
    upgradetest::ExpectUpgradeReachesSchema(*db, version, fresh);
    if (version <= 233) {
      EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='JobHistoryRetentionTime'"), "90");
      EXPECT_EQ(
          Decoded(db->value("SELECT description FROM event_cfg WHERE event_code=18")),
          "Generated when threshold check is rearmed for specific data collection item.\r\nParameters:\r\n"
          "   1) Parameter name\r\n   2) Item description\r\n   3) Data collection item ID\r\n   4) "
          "Instance\r\n"
          "   5) Threshold value\r\n   6) Actual value");
    }
  }
}

TEST_P(Upgrade, DashboardLayoutsBecomeXml) {
  auto db = DatabaseAtVersion(GetParam(), 229);
  if (!db) return;
  db->execAll(
      {"INSERT INTO dashboards (id,num_columns) VALUES (5,2)",
       "INSERT INTO dashboard_elements (dashboard_id,element_id,element_type,element_data,horizontal_span,"
       "vertical_span,horizontal_alignment,vertical_alignment) VALUES (5,0,1,'x',2,1,0,3)",
       "INSERT INTO dashboard_elements (dashboard_id,element_id,element_type,element_data,horizontal_span,"
       "vertical_span,horizontal_alignment,vertical_alignment) VALUES (5,1,1,'y',-1,12,1,1)",
       "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
       "('JobHistoryRetentionTime','keep',0,1)"});
  EXPECT_EQ(WithoutBanner(RunUpgrade(*db).out).substr(0, 62),
            "Upgrading database...\nUpgrading from version 229 to 230\nUpgrad");
  EXPECT_EQ(
      db->rows("SELECT element_id,layout_data,element_data FROM dashboard_elements ORDER BY element_id"),
      "0|<layout><horizontalSpan>2</horizontalSpan><verticalSpan>1</verticalSpan><horizontalAlignment>0"
      "</horizontalAlignment><verticalAlignment>3</verticalAlignment></layout>|x\n"
      "1|<layout><horizontalSpan>-1</horizontalSpan><verticalSpan>12</verticalSpan><horizontalAlignment>1"
      "</horizontalAlignment><verticalAlignment>1</verticalAlignment></layout>|y");
  EXPECT_EQ(db->value("SELECT options FROM dashboards"), "0");
  EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='TileServerURL'"),
            "http://tile.openstreetmap.org/");
  EXPECT_EQ(db->rows("SELECT var_value,is_visible FROM config WHERE var_name='JobHistoryRetentionTime'"),
            "keep|0");
}

TEST_P(Upgrade, DataOfTheSimpleSteps) {
  auto db = DatabaseAtVersion(GetParam(), 230);
  if (!db) return;
  db->execAll({"INSERT INTO nodes (id,community) VALUES (1,'public')",
               "INSERT INTO items (item_id,adv_schedule,all_thresholds) VALUES (1,1,1)",
               "INSERT INTO items (item_id,adv_schedule,all_thresholds) VALUES (2,0,1)",
               "INSERT INTO interfaces (id) VALUES (3)"});
  EXPECT_EQ(WithoutBanner(RunUpgrade(*db).out).substr(0, 21), "Upgrading database...");
  EXPECT_EQ(db->rows("SELECT bridge_base_addr,runtime_flags FROM nodes"), "000000000000|0");
  EXPECT_EQ(db->rows("SELECT item_id,flags,snmp_raw_value_type FROM items ORDER BY item_id"), "1|3|0\n2|2|0");
  EXPECT_EQ(db->rows("SELECT dot1x_pae_state,dot1x_backend_state FROM interfaces"), "0|0");
}

TEST_P(Upgrade, EventTemplatesDecodeToTheirTexts) {
  auto db = DatabaseAtVersion(GetParam(), 238);
  if (!db) return;
  EXPECT_EQ(WithoutBanner(RunUpgrade(*db).out).substr(0, 21), "Upgrading database...");
  const struct {
    int code;
    const char *row;  // name|severity|flags
    const char *message;
    const char *description;
  } events[] = {
      {56, "SYS_IP_ADDRESS_CHANGED|1|1", "Primary IP address changed from %2 to %1",
       "Generated when primary IP address changed (usually because of primary name change or DNS change).\r\n"
       "Parameters:\r\n   1) New IP address\r\n   2) Old IP address\r\n   3) Primary host name"},
      {57, "SYS_8021X_PAE_STATE_CHANGED|0|1", "Port %6 PAE state changed from %4 to %2",
       "Generated when switch port PAE state changed.\r\nParameters:\r\n   1) New PAE state code\r\n   2) "
       "New PAE "
       "state as text\r\n   3) Old PAE state code\r\n   4) Old PAE state as text\r\n   5) Interface "
       "index\r\n   6) "
       "Interface name"},
      {58, "SYS_8021X_BACKEND_STATE_CHANGED|0|1",
       "Port %6 backend authentication state changed from %4 to %2",
       "Generated when switch port backend authentication state changed.\r\nParameters:\r\n   1) New backend "
       "state "
       "code\r\n   2) New backend state as text\r\n   3) Old backend state code\r\n   4) Old backend state "
       "as "
       "text\r\n   5) Interface index\r\n   6) Interface name"},
      {59, "SYS_8021X_PAE_FORCE_UNAUTH|3|1", "Port %2 switched to force unauthorize state",
       "Generated when switch port PAE state changed to FORCE UNAUTHORIZE.\r\nParameters:\r\n   1) Interface "
       "index\r\n   2) Interface name"},
      {60, "SYS_8021X_AUTH_FAILED|3|1", "802.1x authentication failed on port %2",
       "Generated when switch port backend authentication state changed to FAIL.\r\nParameters:\r\n   1) "
       "Interface "
       "index\r\n   2) Interface name"},
      {61, "SYS_8021X_AUTH_TIMEOUT|3|1", "802.1x authentication time out on port %2",
       "Generated when switch port backend authentication state changed to TIMEOUT.\r\nParameters:\r\n   1) "
       "Interface index\r\n   2) Interface name"},
  };
  for (const auto &e : events) {
    std::string where = " FROM event_cfg WHERE event_code=" + std::to_string(e.code);
    EXPECT_EQ(db->rows("SELECT event_name,severity,flags" + where), e.row);
    EXPECT_EQ(Decoded(db->value("SELECT message" + where)), e.message) << e.code;
    EXPECT_EQ(Decoded(db->value("SELECT description" + where)), e.description) << e.code;
  }
}

TEST_P(Upgrade, ActionTextsAreStoredPlain) {
  auto db = DatabaseAtVersion(GetParam(), 244);
  if (!db) return;
  db->execAll(
      {"INSERT INTO actions (action_id,rcpt_addr,email_subject,action_data) VALUES "
       "(1,'a#0D#0Ab','#00','plain text')",
       "INSERT INTO actions (action_id,rcpt_addr,email_subject,action_data) VALUES "
       "(2,'it#27s 100#25','x#5Cy #22q#22','')",
       "INSERT INTO actions (action_id,rcpt_addr,email_subject,action_data) VALUES "
       "(3,'#2341','caf#E9','ab#zz#4')"});
  EXPECT_EQ(WithoutBanner(RunUpgrade(*db).out),
            "Upgrading database...\n" + StepLines(244) + "Database upgrade succeeded\n");
  EXPECT_EQ(db->rows("SELECT action_id,rcpt_addr,email_subject,action_data FROM actions ORDER BY action_id"),
            "1|a\r\nb||plain text\n"
            "2|it's 100%|x\\y \"q\"|\n"
            "3|#41|caf\xC3\xA9|ab#zz#4");
}

TEST_P(Upgrade, WhereTheUpgradeDoesNotStart) {
  const struct {
    int version;
    const char *lockStatus;
    std::string out;
  } cases[] = {
      {kToolSchemaVersion, "talvexd", "Your database format is up to date\n"},
      {kToolSchemaVersion + 1, "talvexd",
       "Your database has format version " + std::to_string(kToolSchemaVersion + 1) +
           ", this tool is compiled for version " + std::to_string(kToolSchemaVersion) +
           ".\nYou need to upgrade your server before using this database.\n"},
      {kToolSchemaVersion - 1, "talvexd#1", "Database is locked\n"},
      {kToolSchemaVersion - 1, "unlocked", "Database is locked\n"},
      {kToolSchemaVersion - 1, "UNLOCKED ", "Database is locked\n"},
      {199, "UNLOCKED", "Unable to find upgrade procedure for version 199\nDatabase upgrade failed\n"},
      {150, "UNLOCKED", "Unable to find upgrade procedure for version 150\nDatabase upgrade failed\n"},
      {-3, "UNLOCKED", "Unable to find upgrade procedure for version -3\nDatabase upgrade failed\n"},
  };
  for (const auto &c : cases) {
    auto db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    db->createVariableTables(c.version);
    db->exec(std::string("UPDATE config SET var_value='") + c.lockStatus + "' WHERE var_name='DBLockStatus'");
    tvtest::RunResult r = RunUpgrade(*db);
    EXPECT_EQ(WithoutBanner(r.out), "Upgrading database...\n" + c.out) << c.version << " " << c.lockStatus;
    EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
              std::to_string(c.version));
  }
}

TEST_P(Upgrade, NoLockRowCountsAsUnlocked) {
  auto db = DatabaseAtVersion(GetParam(), LastStep().from);
  if (!db) return;
  db->exec("DELETE FROM config WHERE var_name='DBLockStatus'");
  EXPECT_EQ(WithoutBanner(RunUpgrade(*db).out),
            "Upgrading database...\n" + StepLines(LastStep().from) + "Database upgrade succeeded\n");
}

TEST_P(Upgrade, FailedStepRollsBackAndTheNextRunResumes) {
  auto db = DatabaseAtVersion(GetParam(), 238);
  if (!db) return;
  db->exec("DROP TABLE slm_checks");
  tvtest::RunResult r = RunUpgrade(*db);
  std::string out = WithoutBanner(r.out);
  EXPECT_EQ(out.substr(0, out.find("SQL query failed")),
            "Upgrading database...\nUpgrading from version 238 to 239\nUpgrading from version 239 to 240\n"
            "Upgrading from version 240 to 241\n");
  EXPECT_TRUE(ReportsFailure(out, "ALTER TABLE slm_checks ADD template_id integer"));
  EXPECT_EQ(out.substr(out.find("\nRolling")),
            "\nRolling back last stage due to upgrade errors...\nDatabase upgrade failed\n");
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), "240");
  EXPECT_EQ(db->value("SELECT event_name FROM event_cfg WHERE event_code=56"), "SYS_IP_ADDRESS_CHANGED");

  db->exec(
      "CREATE TABLE slm_checks (id integer not null,type integer not null,content varchar(255) null,"
      "threshold_id integer not null,reason varchar(255) null,is_template integer not null,PRIMARY KEY(id))");
  EXPECT_EQ(WithoutBanner(RunUpgrade(*db).out),
            "Upgrading database...\n" + StepLines(240) + "Database upgrade succeeded\n");
}

TEST_P(Upgrade, RollbackUndoesTheWholeStep) {
  if (GetParam() == "mysql") GTEST_SKIP() << "MySQL commits each ALTER TABLE at once";
  auto db = DatabaseAtVersion(GetParam(), 243);
  if (!db) return;
  db->exec(
      "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
      "(60,'TAKEN',0,0,'m','d')");
  std::string out = WithoutBanner(RunUpgrade(*db).out);
  EXPECT_NE(out.find("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), "243");
  EXPECT_EQ(db->value("SELECT count(*) FROM event_cfg WHERE event_code>=57 AND event_code<=61"), "1");
  EXPECT_EQ(db->value("SELECT dot1x_pae_state FROM interfaces").substr(0, 7), "<error:");
}

// Under -X failed statements are reported and the upgrade goes on; on
// PostgreSQL this relies on each statement being isolated inside the step
// transaction.
TEST_P(Upgrade, IgnoringErrorsGoesOn) {
  auto db = DatabaseAtVersion(GetParam(), 243);
  if (!db) return;
  db->execAll({"ALTER TABLE nodes ADD runtime_flags integer",
               "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
               "(58,'TAKEN',0,0,'m','d')"});
  std::string out = WithoutBanner(RunUpgrade(*db, {"-X"}).out);
  EXPECT_TRUE(ReportsFailure(out, "ALTER TABLE nodes ADD runtime_flags integer"));
  EXPECT_NE(out.find("VALUES (58,'SYS_8021X_BACKEND_STATE_CHANGED'"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.rfind("\n", out.size() - 2)), "\nDatabase upgrade succeeded\n");
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
            std::to_string(kToolSchemaVersion));
  EXPECT_EQ(db->rows("SELECT event_code FROM event_cfg WHERE event_code>=57 AND event_code<=61 ORDER BY 1"),
            "57\n58\n59\n60\n61");
  EXPECT_EQ(db->rows("SELECT runtime_flags FROM nodes"), db->rows("SELECT 0 FROM nodes"));
}

// The server works without a tile server URL, so a failed insert is only
// reported, with or without -X.
TEST_P(Upgrade, FailedTileServerInsertDoesNotStopTheStep) {
  auto db = DatabaseAtVersion(GetParam(), 229);
  if (!db) return;
  if (GetParam() == "sqlite")
    db->exec(
        "CREATE TRIGGER no_tiles BEFORE INSERT ON config WHEN NEW.var_name='TileServerURL' "
        "BEGIN SELECT RAISE(ABORT,'no tiles'); END");
  else
    db->exec("ALTER TABLE config ADD CONSTRAINT no_tiles CHECK (var_name<>'TileServerURL')");
  std::string out = WithoutBanner(RunUpgrade(*db).out);
  EXPECT_TRUE(ReportsFailure(out,
                             "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
                             "('TileServerURL','http://tile.openstreetmap.org/',1,0)"));
  EXPECT_EQ(out.substr(out.rfind("Upgrading from")),
            StepLines(LastStep().from) + "Database upgrade succeeded\n");
}

// A version that cannot be written would select the same step for ever.
TEST_P(Upgrade, StepThatCannotWriteItsVersionFailsUnderIgnoreErrors) {
  auto db = DatabaseAtVersion(GetParam(), LastStep().from);
  if (!db) return;
  if (GetParam() == "sqlite")
    db->exec("CREATE TRIGGER frozen BEFORE UPDATE ON metadata BEGIN SELECT RAISE(ABORT,'frozen'); END");
  else if (GetParam() == "pgsql")
    db->execAll(
        {"CREATE FUNCTION frozen() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'frozen'; END $$ "
         "LANGUAGE plpgsql",
         "CREATE TRIGGER frozen BEFORE UPDATE ON metadata FOR EACH ROW EXECUTE FUNCTION frozen()"});
  else
    db->exec(
        "CREATE TRIGGER frozen BEFORE UPDATE ON metadata FOR EACH ROW "
        "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='frozen'");
  std::string out = WithoutBanner(RunUpgrade(*db, {"-X"}).out);
  EXPECT_TRUE(ReportsFailure(out, "UPDATE metadata SET var_value='" + std::to_string(LastStep().to) +
                                      "' WHERE var_name='SchemaVersion'"));
  EXPECT_EQ(out.substr(out.find("\nRolling")),
            "\nRolling back last stage due to upgrade errors...\nDatabase upgrade failed\n");
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
            std::to_string(LastStep().from));
}

INSTANTIATE_TEST_SUITE_P(Engines, Upgrade, ::testing::ValuesIn(tvtest::AllEngines()));

// A commit the engine refuses leaves the step undone; going on would run
// the same step again and again. Only PostgreSQL can defer a check to the
// commit here.
TEST(UpgradeCommit, RefusedCommitStopsTheUpgrade) {
  auto db = DatabaseAtVersion("pgsql", 243);
  if (!db) return;
  db->execAll(
      {"CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'refused at commit'; END $$ "
       "LANGUAGE plpgsql",
       "CREATE CONSTRAINT TRIGGER late AFTER INSERT ON event_cfg DEFERRABLE INITIALLY DEFERRED "
       "FOR EACH ROW EXECUTE FUNCTION refuse()"});
  std::string out = WithoutBanner(RunUpgrade(*db).out);
  EXPECT_TRUE(ReportsFailure(out, "COMMIT"));
  EXPECT_EQ(out.substr(out.find("\nDatabase")), "\nDatabase upgrade failed\n");
  EXPECT_EQ(out.find("Upgrading from version 244"), std::string::npos) << out;
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), "243");
  EXPECT_EQ(db->value("SELECT count(*) FROM event_cfg WHERE event_code>=57 AND event_code<=61"), "0");
}

}  // namespace
