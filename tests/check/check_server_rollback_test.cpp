// The server may roll back the check's whole transaction on its own: a
// deadlock with another session, or on a Galera cluster a write on
// another node to a row the check has repaired. The repairs made so far
// are gone then; the check says so, asks nothing more, commits nothing,
// reports that it was aborted, and a rerun repairs everything.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "check/check_command.h"
#include "check/check_stage.h"
#include "support/captured_output.h"
#include "support/failing_db.h"
#include "support/own_mariadb.h"
#include "support/scoped_state.h"
#include "support/test_db.h"

namespace {

// Two objects whose timestamp the check repairs, 1001 first.
void AddInvalidTimestamps(tvtest::TestDatabase &db) {
  db.exec(
      "INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,inherit_access_rights,"
      "comments) VALUES (1001,'first',0,0,0,1,''),(1002,'second',0,0,0,1,'')");
}

// Runs the check with every repair accepted; conflict runs when the check
// holds its repair of 1001 and is about to repair 1002.
// What a check that repairs without asking prints on handle.
std::string ForcedCheckOutput(db_handle_t handle, int syntax) {
  tvtest::ScopedCurrentDatabase current(handle, syntax);
  tvtest::ScopedOptions options;
  ForceRepair = true;
  ErrorsFound = ErrorsFixed = 0;
  tvtest::CapturedOutput captured;
  RunCheckCommand();
  return captured.text();
}

std::string CheckWithConflict(tvtest::TestDatabase &db, const std::function<void()> &conflict) {
  auto plan = std::make_shared<tvtest::FaultPlan>();
  plan->failWhen = [&](const std::string &s) {
    if (s.starts_with("UPDATE object_properties SET last_modified=") && s.ends_with("WHERE object_id=1002"))
      conflict();
    return false;
  };
  db_handle_t handle = tvtest::OpenFailingHandle(db.handle(), plan);
  const std::string out = ForcedCheckOutput(handle, db.syntax());
  DBDisconnect(handle);
  return out;
}

std::string RerunCheck(tvtest::TestDatabase &db) { return ForcedCheckOutput(db.handle(), db.syntax()); }

void ExpectAbortedAndNothingKept(tvtest::TestDatabase &db, const std::string &out,
                                 const std::string &reason = "Deadlock found") {
  EXPECT_NE(out.find("ERROR: the transaction was rolled back by the server: " + reason), std::string::npos)
      << out;
  EXPECT_TRUE(out.ends_with("Database check aborted\n")) << out;
  for (const char *claim : {"successfully committed", "errors was found", "was corrected"})
    EXPECT_EQ(out.find(claim), std::string::npos) << claim << "\n" << out;
  EXPECT_EQ(db.rows("SELECT object_id,last_modified FROM object_properties WHERE object_id IN (1001,1002) "
                    "ORDER BY 1"),
            "1001|0\n1002|0");
}

void ExpectRerunRepairsEverything(tvtest::TestDatabase &db) {
  const std::string out = RerunCheck(db);
  EXPECT_NE(out.find("Changes was successfully committed to database\n"), std::string::npos) << out;
  EXPECT_EQ(db.value("SELECT count(*) FROM object_properties WHERE last_modified=0"), "0") << out;
}

// A second session holds 1002 and, once the check holds 1001, asks for
// it: a deadlock, in which the server rolls back the smaller transaction,
// the check's.
TEST(CheckServerRollback, DeadlockWithAnotherSession) {
  auto db = tvtest::OpenOrSkip("mysql");
  if (!db) return;
  ASSERT_TRUE(db->initSchema());
  AddInvalidTimestamps(*db);
  std::string bulk =
      "INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,"
      "inherit_access_rights,comments) VALUES ";
  for (int id = 2000; id < 2200; id++)
    bulk += (id > 2000 ? ",(" : "(") + std::to_string(id) + ",'o',0,0,1,1,'')";
  db->exec(bulk);
  auto other = db->reachedOn(tvtest::PortOf("mysql")), watcher = db->reachedOn(tvtest::PortOf("mysql"));
  ASSERT_TRUE(other && watcher);
  ASSERT_TRUE(DBBegin(other->handle()));
  other->exec("UPDATE object_properties SET comments='other' WHERE object_id>=2000");
  other->exec("UPDATE object_properties SET comments='other' WHERE object_id=1002");
  std::thread waiting;
  const std::string out = CheckWithConflict(*db, [&] {
    waiting = std::thread(
        [&] { other->exec("UPDATE object_properties SET comments='other' WHERE object_id=1001"); });
    for (int i = 0; i < 1000 && watcher->value("SELECT count(*) FROM information_schema.innodb_trx WHERE "
                                               "trx_state='LOCK WAIT'") != "1";
         i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  if (waiting.joinable()) waiting.join();
  DBRollback(other->handle());
  ExpectAbortedAndNothingKept(*db, out);
  ExpectRerunRepairsEverything(*db);
}

// Node 2 writes the row the check on node 1 has repaired: the cluster
// aborts the check's transaction for the replicated write. A read on
// node 1 that waits for the node to catch up makes sure that the abort
// has happened before the check goes on.
TEST(CheckServerRollback, WriterOnAnotherClusterNode) {
  auto db = tvtest::OpenOnGaleraOrSkip();
  if (!db) return;
  ASSERT_TRUE(db->initSchema());
  AddInvalidTimestamps(*db);
  auto node2 = db->reachedOn(tvtest::GaleraPorts()[1]), node1 = db->reachedOn(tvtest::GaleraPorts()[0]);
  ASSERT_TRUE(node2 && node1);
  node1->exec("SET SESSION wsrep_sync_wait=1");
  const std::string out = CheckWithConflict(*db, [&] {
    node2->exec("UPDATE object_properties SET comments='node 2' WHERE object_id=1001");
    EXPECT_EQ(node1->value("SELECT comments FROM object_properties WHERE object_id=1001"), "node 2");
  });
  ExpectAbortedAndNothingKept(*db, out);
  EXPECT_EQ(db->value("SELECT comments FROM object_properties WHERE object_id=1001"), "node 2");
  ExpectRerunRepairsEverything(*db);
}

}  // namespace

// A lock wait timeout ends the whole transaction only on a server that
// runs with innodb_rollback_on_timeout (an option of its start); without
// it the timeout undoes one repair, and the check goes on and commits
// the others.
TEST(CheckServerRollback, LockWaitTimeoutEndsTheTransactionOnlyUnderRollbackOnTimeout) {
  for (const bool rollsBack : {true, false}) {
    SCOPED_TRACE(rollsBack ? "innodb_rollback_on_timeout=ON" : "innodb_rollback_on_timeout=OFF");
    tvtest::OwnMariadb server(tvtest::OwnMariadb::Kind::kSingle,
                              {"--innodb-lock-wait-timeout=1",
                               std::string("--innodb-rollback-on-timeout=") + (rollsBack ? "ON" : "OFF")});
    if (!tvtest::ConfiguredOrSkip(!server.port().empty(), "a MariaDB of the test's own: " + server.error()))
      return;
    std::string error;
    auto db = tvtest::TestDatabase::CreateOn("mysql", server.port(), error);
    ASSERT_TRUE(db) << error;
    ASSERT_TRUE(db->initSchema());
    AddInvalidTimestamps(*db);
    auto other = db->reachedOn(server.port());
    ASSERT_TRUE(other);
    ASSERT_TRUE(DBBegin(other->handle()));
    other->exec("UPDATE object_properties SET comments='other' WHERE object_id=1002");
    const std::string out = CheckWithConflict(*db, [] {});
    DBRollback(other->handle());
    if (rollsBack) {
      ExpectAbortedAndNothingKept(*db, out, "Lock wait timeout exceeded");
      continue;
    }
    EXPECT_NE(out.find("SQL query failed (Lock wait timeout exceeded"), std::string::npos) << out;
    EXPECT_NE(out.find("2 errors was found, 1 errors was corrected\n"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("Changes was successfully committed to database\nDatabase check completed\n"))
        << out;
    EXPECT_EQ(db->value("SELECT count(*) FROM object_properties WHERE last_modified=0"), "1") << out;
  }
}

// PostgreSQL goes back to a failed statement's savepoint and keeps the
// transaction; what it refuses at COMMIT (a serialization failure found
// only then, here raised by a deferred trigger) rolls the whole
// transaction back.
TEST(CheckServerRollback, CommitRefusedOnPostgresql) {
  auto db = tvtest::OpenOrSkip("pgsql");
  if (!db) return;
  ASSERT_TRUE(db->initSchema());
  AddInvalidTimestamps(*db);
  db->exec(
      "CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'could not serialize access' USING "
      "ERRCODE='40001'; END $$ LANGUAGE plpgsql");
  db->exec(
      "CREATE CONSTRAINT TRIGGER refuse_at_commit AFTER UPDATE ON object_properties DEFERRABLE INITIALLY "
      "DEFERRED FOR EACH ROW EXECUTE FUNCTION refuse()");
  const std::string out = CheckWithConflict(*db, [] {});
  EXPECT_NE(out.find("Committing changes...\nERROR: the transaction was rolled back by the server: could not "
                     "serialize access\nDatabase check aborted\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("successfully committed"), std::string::npos) << out;
  EXPECT_EQ(db->value("SELECT count(*) FROM object_properties WHERE last_modified=0"), "2");
}
