// The import in one transaction on PostgreSQL: its estimate of the locks
// it takes holds against what the server really holds at the commit, and
// an import too large for the server's lock table is refused before
// anything is cleared.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "session/lock_table.h"
#include "support/captured_output.h"
#include "support/failing_db.h"
#include "support/lock_table_fill.h"
#include "support/scoped_state.h"
#include "transfer/export_table_list.h"
#include "transfer/import_locks.h"
#include "transfer/import_steps.h"
#include "transfer/sqlite_file.h"
#include "transfer/transfer_commands.h"
#include "transfer_fixture.h"

namespace {

// The tables, indexes and types that the connection's transaction holds
// locks on, system catalogues left out: an entry of the lock table each.
const char kHeldLocks[] =
    "SELECT count(*) FROM (SELECT DISTINCT locktype,relation,classid,objid FROM pg_locks "
    "WHERE pid=pg_backend_pid() AND ((locktype='relation' AND relation>=16384) OR "
    "(locktype='object' AND classid='pg_type'::regclass))) s";

const char kDataTable[] =
    "CREATE TABLE idata_%d (item_id integer not null,idata_timestamp integer not null,idata_value "
    "varchar(255) null)";

class ImportLocks : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = tvtest::TempDir();
    file = tvtest::MakeExportFile(dir);
    db = tvtest::OpenOrSkip("pgsql");
    if (!db || file.empty() || !tvtest::InitSchemaFast(*db)) {
      db.reset();
      return;
    }
    db->exec(
        "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
        "('Marker','kept',1,0)");
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // A copy of the export file with nodes more nodes, each with its
  // collected-data table.
  std::string fileWithNodes(int nodes) {
    std::string copy = dir + "/nodes-" + std::to_string(nodes) + ".db";
    std::filesystem::copy_file(file, copy);
    std::string script = "BEGIN;CREATE TEMP TABLE one AS SELECT * FROM nodes LIMIT 1;";
    for (int id = 100000; id < 100000 + nodes; id++) {
      char table[256];
      snprintf(table, sizeof(table), kDataTable, id);
      script += "UPDATE one SET id=" + std::to_string(id) + ";INSERT INTO nodes SELECT * FROM one;" + table +
                ";INSERT INTO idata_" + std::to_string(id) + " VALUES (1,1,'v');";
    }
    script += "COMMIT;";
    tvtest::WriteFile(dir + "/script.sql", script);
    EXPECT_EQ(system(("sqlite3 " + copy + " < " + dir + "/script.sql").c_str()), 0);
    return copy;
  }

  // What the import of path would lock, as the import estimates it.
  int64_t estimate(const std::string &path) {
    tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
    sqlite3 *raw = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::unique_ptr<sqlite3, SqliteFileCloser> opened(raw);
    DataTableTemplates templates;
    int64_t locks = -1;
    EXPECT_TRUE(ReadDataTableTemplates(templates));
    EXPECT_TRUE(EstimateImportLocks(raw, templates.indexes.size(), locks));
    return locks;
  }

  bool untouched() { return db->value("SELECT var_value FROM config WHERE var_name='Marker'") == "kept"; }

  std::unique_ptr<tvtest::TestDatabase> db;
  std::string dir, file;
};

TEST_F(ImportLocks, EstimateCoversWhatTheImportHoldsAtItsCommit) {
  if (!db) return;
  // The nodes there before, whose tables the import drops; one of them
  // with a second index.
  for (int id = 1; id <= 5; id++) {
    char table[256];
    snprintf(table, sizeof(table), kDataTable, id);
    db->exec("INSERT INTO nodes (id,community) VALUES (" + std::to_string(id) + ",'public')");
    db->exec(table);
    db->exec("CREATE INDEX idx_idata_" + std::to_string(id) + "_timestamp_id ON idata_" + std::to_string(id) +
             "(idata_timestamp,item_id)");
  }
  db->exec("CREATE INDEX idx_second ON idata_1(item_id)");
  const std::string path = fileWithNodes(20);
  const int64_t estimated = estimate(path);

  auto plan = std::make_shared<tvtest::FaultPlan>();
  int64_t held = -1;
  plan->beforeCommit = [&] { held = std::stoll(db->value(kHeldLocks)); };
  db_handle_t watched = tvtest::OpenFailingHandle(db->handle(), plan);
  {
    tvtest::ScopedCurrentDatabase current(watched, db->syntax());
    tvtest::ScopedOptions options;
    ForceRepair = true;
    tvtest::CapturedOutput captured;
    RunImportCommand(path.c_str());
    std::string out = captured.text();
    EXPECT_TRUE(out.ends_with("Database import complete.\n")) << out.substr(out.size() - 2000);
  }
  DBDisconnect(watched);
  // Never fewer than held (a transaction let through would fail), and
  // more only by the TOAST tables of the listed tables (a table and its
  // index each), which a row takes only with a long text.
  int listed = 0;
  while (ExportTableList[listed] != nullptr) listed++;
  EXPECT_GE(estimated, held);
  EXPECT_LE(estimated, held + 2 * listed) << "held " << held;
}

TEST_F(ImportLocks, ImportTooLargeForTheLockTableIsRefusedBeforeClearing) {
  if (!db) return;
  const LockTableSize size = tvtest::ServerLockTable(*db);
  ASSERT_FALSE(HasFailure());
  // Each node of the file brings a table and its index.
  const int64_t nodes = size.locks() / 2 + 1;
  if (nodes > 20000) GTEST_SKIP() << "the server's lock table holds " << size.locks() << " locks";
  const std::string path = fileWithNodes(static_cast<int>(nodes));
  const int64_t need = estimate(path);
  ASSERT_GT(need, size.locks());
  tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", path});
  EXPECT_NE(
      r.out.find("\nERROR: this import locks about " + std::to_string(need) +
                 " tables and indexes in one transaction, but the server's lock table holds about " +
                 std::to_string(size.locks()) +
                 " (max_locks_per_transaction = " + std::to_string(size.locksPerTransaction) +
                 "); raise max_locks_per_transaction to at least " +
                 std::to_string(LocksPerTransactionFor(need, size.sessions)) + " and restart the server" +
                 tvtest::StandbyAdvice(size) + "\nDatabase import failed.\n"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Database successfully cleared"), std::string::npos);
  EXPECT_TRUE(untouched());
  EXPECT_EQ(db->value("SELECT count(*) FROM nodes"), "0");
}

}  // namespace
