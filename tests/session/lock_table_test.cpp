// The room that PostgreSQL's shared lock table has for one transaction,
// and the catalogue counts the estimates rest on, held against what the
// server really locks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "collected_data/reindex.h"
#include "db/db.h"
#include "session/lock_table.h"
#include "support/captured_output.h"
#include "support/lock_table_fill.h"
#include "support/scoped_state.h"
#include "support/test_db.h"

namespace {

// The tables, indexes and types that the connection's transaction holds
// locks on, system catalogues left out: an entry of the lock table each.
const char kHeldLocks[] =
    "SELECT count(*) FROM (SELECT DISTINCT locktype,relation,classid,objid FROM pg_locks "
    "WHERE pid=pg_backend_pid() AND ((locktype='relation' AND relation>=16384) OR "
    "(locktype='object' AND classid='pg_type'::regclass))) s";

std::string Printed(const std::function<void()> &run) {
  tvtest::CapturedOutput captured;
  run();
  return captured.text();
}

const char kDataTable[] =
    "CREATE TABLE idata_%d (item_id integer not null,idata_timestamp integer not null,idata_value "
    "varchar(255) null)";

std::string Format(const char *format, int id) {
  char text[512];
  snprintf(text, sizeof(text), format, id, id);
  return text;
}

TEST(LockTable, SizeIsReadFromTheServerSettings) {
  auto db = tvtest::OpenOrSkip("pgsql");
  if (!db) return;
  tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
  LockTableSize size;
  ASSERT_TRUE(ReadLockTableSize(size));
  EXPECT_EQ(size.locksPerTransaction, std::stoll(db->value("SHOW max_locks_per_transaction")));
  EXPECT_EQ(size.sessions, std::stoll(db->value("SHOW max_connections")) +
                               std::stoll(db->value("SHOW max_prepared_transactions")));
}

TEST(LockTable, RoomIsAskedForInStepsOfTheDefault) {
  const struct {
    int64_t need, sessions, perTransaction;
  } cases[] = {{21000, 100, 256}, {6400, 100, 64}, {6401, 100, 128},
               {1, 100, 64},      {7000, 7, 1024}, {65, 1, 128}};
  for (const auto &c : cases)
    EXPECT_EQ(LocksPerTransactionFor(c.need, c.sessions), c.perTransaction) << c.need << " in " << c.sessions;
}

TEST(LockTable, ATransactionTooLargeIsRefusedWithTheSettingToRaise) {
  auto db = tvtest::OpenOrSkip("pgsql");
  if (!db) return;
  tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
  LockTableSize size;
  ASSERT_TRUE(ReadLockTableSize(size));
  // The advice to raise the standbys first needs them counted.
  if (!tvtest::PgStandbyPort().empty()) {
    EXPECT_GE(size.standbys, 1);
  }
  const int64_t room = size.locks();
  for (int64_t need : {int64_t{0}, room, room + 1, 3 * room + 7}) {
    bool ok = false;
    std::string out = Printed([&] {
      ok = CheckLockTableRoom("this test", [need](int64_t &locks) {
        locks = need;
        return true;
      });
    });
    if (need <= room) {
      EXPECT_TRUE(ok) << need;
      EXPECT_EQ(out, "");
      continue;
    }
    EXPECT_FALSE(ok) << need;
    const int64_t raise = LocksPerTransactionFor(need, size.sessions);
    EXPECT_GT(raise, size.locksPerTransaction);
    EXPECT_GE(raise * size.sessions, need);
    EXPECT_EQ(out, "ERROR: this test locks about " + std::to_string(need) +
                       " tables and indexes in one transaction, but the server's lock table holds about " +
                       std::to_string(room) +
                       " (max_locks_per_transaction = " + std::to_string(size.locksPerTransaction) +
                       "); raise max_locks_per_transaction to at least " + std::to_string(raise) +
                       " and restart the server" + tvtest::StandbyAdvice(size) + "\n");
  }
  // An estimate that cannot be made refuses, with its own report only.
  bool ok = true;
  std::string out = Printed([&] { ok = CheckLockTableRoom("this test", [](int64_t &) { return false; }); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, "");
}

TEST(LockTable, OtherEnginesAreNeitherAskedNorRefused) {
  for (const std::string &engine : {std::string("sqlite"), std::string("mysql")}) {
    auto db = tvtest::OpenOrSkip(engine);
    if (!db) continue;
    tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
    bool asked = false;
    EXPECT_TRUE(CheckLockTableRoom("this test", [&](int64_t &locks) {
      asked = true;
      locks = INT64_MAX;
      return true;
    })) << engine;
    EXPECT_FALSE(asked) << engine;
  }
}

// The import drops every collected-data table: the count of the catalogue,
// with two types per table, is what the server then holds.
TEST(LockTable, CatalogueCountIsWhatDroppingTheDataTablesLocks) {
  auto db = tvtest::OpenOrSkip("pgsql");
  if (!db) return;
  tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
  std::vector<std::string> drops;
  for (int id = 1; id <= 12; id++) {
    db->exec(Format(kDataTable, id));
    // None, one or two indexes.
    if (id % 3 > 0) db->exec(Format("CREATE INDEX idx_a_%d ON idata_%d(item_id)", id));
    if (id % 3 > 1) db->exec(Format("CREATE INDEX idx_b_%d ON idata_%d(idata_timestamp)", id));
    drops.push_back(Format("DROP TABLE idata_%d", id));
  }
  // A long text has a TOAST table with an index of its own.
  db->exec("CREATE TABLE idata_13 (item_id integer not null,idata_value text)");
  db->exec("CREATE INDEX idx_a_13 ON idata_13(item_id)");
  drops.push_back("DROP TABLE idata_13");
  // Not collected-data tables.
  db->exec("CREATE TABLE idata_x (a integer)");
  db->exec("CREATE TABLE items_idata_5 (a integer)");
  RelationCount count;
  ASSERT_TRUE(CountTableRelations(kDataTableCondition, count));
  EXPECT_EQ(count.tables, 13);
  EXPECT_EQ(count.relations, 13 + 12 + 1 + 2);
  ASSERT_TRUE(DBBegin(db->handle()));
  db->execAll(drops);
  EXPECT_EQ(db->value(kHeldLocks), std::to_string(count.relations + 2 * count.tables));
  DBRollback(db->handle());
}

// Step 209 -> 210 reindexes every collected-data table in its transaction.
TEST(LockTable, ReindexEstimateIsWhatTheReindexLocks) {
  auto db = tvtest::OpenOrSkip("pgsql");
  if (!db || !db->initSchema()) return;
  tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
  db->exec(
      "INSERT INTO metadata (var_name,var_value) VALUES "
      "('IDataIndexCreationCommand_1','CREATE INDEX idx_idata_%d_value ON idata_%d(idata_value)')");
  for (int id = 1; id <= 10; id++) {
    db->exec("INSERT INTO nodes (id,community) VALUES (" + std::to_string(id) + ",'public')");
    db->exec(Format(kDataTable, id));
    db->exec(Format("CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)", id));
  }
  int64_t estimate = 0;
  ASSERT_TRUE(EstimateReindexLocks(estimate));
  EXPECT_EQ(estimate, 10 * (1 + 1 + 2));
  ASSERT_TRUE(DBBegin(db->handle()));
  // The tables the reindex reads are locked too, but are not per node.
  db->value("SELECT count(*) FROM nodes");
  db->value("SELECT count(*) FROM metadata");
  const int64_t before = std::stoll(db->value(kHeldLocks));
  Printed([] { ReindexCollectedDataTables(ReindexKind::kEverything, [](bool ok) { return ok; }); });
  EXPECT_EQ(std::stoll(db->value(kHeldLocks)) - before, estimate);
  DBRollback(db->handle());
}

}  // namespace
