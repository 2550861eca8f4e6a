// The spread form of the table loop on MySQL/MariaDB.
#include <gtest/gtest.h>

#include <string>

#include "session/globals.h"
#include "session/sql_exec.h"
#include "session/table_loop.h"
#include "support/captured_output.h"
#include "support/scoped_state.h"
#include "support/test_db.h"

namespace {

// Other connections that died between two loops (a server that dropped
// them, an operator's KILL) cannot follow the main one into another
// database: the next loop sends its tables over the main connection
// instead of leaving them out, and nothing is reported.
TEST(TableLoop, SpreadWhoseConnectionsAreGoneSendsOverTheMainOne) {
  auto db = tvtest::OpenOrSkip("mysql");
  auto other = tvtest::OpenOrSkip("mysql");
  if (!db || !other) return;
  const std::string away = other->value("SELECT DATABASE()");
  tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
  const int reported = ReportedSqlErrors();
  const auto indexTables = [](const char *prefix) {
    return [prefix](TableLoop &loop) {
      for (int n = 0; n < 3; n++) {
        const std::string table = std::string(prefix) + std::to_string(n);
        loop.startTable(table);
        if (!loop.exec("CREATE INDEX i_" + table + " ON " + table + "(id)", TableLoop::OnFailure::kEnds))
          return false;
      }
      return true;
    };
  };
  for (int n = 0; n < 3; n++) {
    ASSERT_TRUE(db->exec("CREATE TABLE here" + std::to_string(n) + " (id integer)"));
    ASSERT_TRUE(other->exec("CREATE TABLE there" + std::to_string(n) + " (id integer)"));
  }
  ASSERT_TRUE(RunTableLoop(indexTables("here"), {.spread = true}));
  // Every connection in the first database but the test's own.
  const std::string siblings =
      other->rows("SELECT id FROM information_schema.processlist WHERE id NOT IN (CONNECTION_ID()," +
                  db->value("SELECT CONNECTION_ID()") + ") AND db='" + db->value("SELECT DATABASE()") + "'");
  ASSERT_FALSE(siblings.empty());
  for (size_t start = 0; start < siblings.size();) {
    size_t end = siblings.find('\n', start);
    if (end == std::string::npos) end = siblings.size();
    other->exec("KILL " + siblings.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_TRUE(db->exec("USE " + away));
  tvtest::CapturedOutput captured;
  EXPECT_TRUE(RunTableLoop(indexTables("there"), {.spread = true}));
  const std::string out = captured.text();
  EXPECT_EQ(ReportedSqlErrors(), reported) << out;
  EXPECT_EQ(other->value("SELECT count(*) FROM information_schema.statistics WHERE table_schema=DATABASE() "
                         "AND index_name LIKE 'i_there%'"),
            "3");
  EXPECT_NE(out.find("there2\n"), std::string::npos) << out;
}

}  // namespace
