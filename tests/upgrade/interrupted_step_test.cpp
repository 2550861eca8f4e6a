// kill -9 of an upgrade while step 244 -> 245 decodes the action texts on
// MySQL/MariaDB. The step's schema statements commit at once there, and
// each of its actions commits with the step's journal once one has run:
// every column of texts is either still encoded as at 244 or decoded
// whole, never half, and the next run finishes the step without decoding
// a text twice.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "fixtures.h"
#include "session/globals.h"
#include "support/test_db.h"

namespace {

const int kRows = 100000;

// The encoded texts as at 244, for action ids from 1000000 on.
void AddEncodedActions(tvtest::TestDatabase &db) {
  db.execAll({"CREATE TABLE digits (d integer)",
              "INSERT INTO digits VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)",
              "INSERT INTO actions (action_id,rcpt_addr,email_subject,action_data) "
              "SELECT 1000000+a.d+10*b.d+100*c.d+1000*e.d+10000*f.d,'user#40example.com','Alarm#20#2341',"
              "CONCAT('Line#20one#0D#0Aid#20',a.d+10*b.d+100*c.d+1000*e.d+10000*f.d) "
              "FROM digits a,digits b,digits c,digits e,digits f",
              "DROP TABLE digits"});
}

std::string Count(tvtest::TestDatabase &db, const std::string &condition) {
  return db.value("SELECT count(*) FROM actions WHERE action_id>=1000000 AND " + condition);
}

TEST(InterruptedStep, KillWhileTextsAreDecodedLeavesThemEncodedOrTheStepDone) {
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> pause(0, 1500);
  for (int attempt = 0; attempt < 2; attempt++) {
    auto db = upgradetest::DatabaseAtVersion("mysql", 244);
    if (!db) return;
    AddEncodedActions(*db);
    // The kill comes while the step is busy with the actions table.
    const std::string busy =
        "SELECT count(*) FROM information_schema.processlist WHERE db=DATABASE() AND id<>CONNECTION_ID() "
        "AND info LIKE '%actions%'";
    const int ms = pause(random);
    ASSERT_TRUE(tvtest::RunToolAndKill({"-c", db->configPath(), "upgrade"}, [&] {
      for (int i = 0; i < 2000 && db->value(busy) == "0"; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }));
    db->reconnect();
    ASSERT_TRUE(tvtest::WaitForOtherSessions(*db)) << "the killed upgrade's session did not end";
    const std::string version = db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'");
    SCOPED_TRACE("killed " + std::to_string(ms) + " ms into the recoding, at version " + version);
    const struct {
      const char *encoded, *decoded;
    } columns[] = {
        {"rcpt_addr='user#40example.com'", "rcpt_addr='user@example.com'"},
        {"email_subject='Alarm#20#2341'", "email_subject='Alarm #41'"},
        {"action_data=CONCAT('Line#20one#0D#0Aid#20',action_id-1000000)",
         "action_data=CONCAT('Line one\\r\\nid ',action_id-1000000)"},
    };
    for (const auto &column : columns) {
      const std::string encoded = Count(*db, column.encoded);
      EXPECT_TRUE(encoded == std::to_string(kRows) || Count(*db, column.decoded) == std::to_string(kRows))
          << column.encoded << ": " << encoded << " rows still encoded";
    }
    tvtest::RunResult rerun = tvtest::RunTool({"-c", db->configPath(), "upgrade"});
    EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
              std::to_string(kToolSchemaVersion))
        << rerun.out;
    for (const auto &column : columns)
      EXPECT_EQ(Count(*db, column.decoded), std::to_string(kRows)) << rerun.out;
  }
}

}  // namespace
