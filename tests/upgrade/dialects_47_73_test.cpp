// The dialect branches of steps 47 -> 73 for the engines that cannot run
// here, through a recording connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorded_steps.h"
#include "session/globals.h"

namespace {

using upgradetest::Statements;

class RecordedSteps47To73 : public upgradetest::RecordedStepTest {
 protected:
  // Runs the step that starts at from on a recording of the dialect, the
  // node queries answered with nodes; returns what it printed.
  std::string run(int syntax, int from, const tvtest::Recording::Rows &nodes = {}) {
    use(syntax);
    recording->answers = {{"count(*) FROM nodes", {{std::to_string(nodes.size())}}},
                          {" id FROM nodes", nodes}};
    result = runStep(from);
    return printed;
  }
  int result = 0;
};

TEST_F(RecordedSteps47To73, IndexSwapTexts) {
  const struct {
    int syntax;
    const char *list;
    const char *drop;
    const char *create;
    const char *stored;
  } cases[] = {
      {DB_SYNTAX_MSSQL, "SELECT TOP 1000 id FROM nodes ORDER BY id",
       "DROP INDEX idx_idata_7_timestamp ON idata_7",
       "CREATE CLUSTERED INDEX idx_idata_7_id_timestamp ON idata_7(item_id,idata_timestamp)",
       "CREATE CLUSTERED INDEX idx_idata_#25d_id_timestamp ON idata_#25d(item_id,idata_timestamp)"},
      {DB_SYNTAX_ORACLE, "SELECT * FROM (SELECT id FROM nodes ORDER BY id) WHERE ROWNUM<=1000",
       "DROP INDEX idx_idata_7_timestamp",
       "CREATE INDEX idx_idata_7_timestamp_id ON idata_7(idata_timestamp,item_id)",
       "CREATE INDEX idx_idata_#25d_timestamp_id ON idata_#25d(idata_timestamp,item_id)"},
      {DB_SYNTAX_DB2, "SELECT id FROM nodes ORDER BY id", "DROP INDEX idx_idata_7_timestamp",
       "CREATE INDEX idx_idata_7_id_timestamp ON idata_7(item_id,idata_timestamp)",
       "CREATE INDEX idx_idata_#25d_id_timestamp ON idata_#25d(item_id,idata_timestamp)"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(c.syntax, 52, {{"7"}}), "Reindexing database:\n   * idata_7\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(
        recording->statements,
        (Statements{"SELECT count(*) FROM nodes", c.list, c.drop, c.create,
                    "DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'",
                    "SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_1'",
                    std::string("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
                                "VALUES ('IDataIndexCreationCommand_1','") +
                        c.stored + "',0,1)",
                    "UPDATE config SET var_value='53' WHERE var_name='DBFormatVersion'"}))
        << c.syntax;
  }
}

TEST_F(RecordedSteps47To73, CommunityWideningTexts) {
  const struct {
    int syntax;
    Statements widen;
    const char *printed;
  } cases[] = {
      {DB_SYNTAX_MSSQL, {"ALTER TABLE nodes ALTER COLUMN community varchar(127) not null"}, ""},
      {DB_SYNTAX_ORACLE, {"ALTER TABLE nodes MODIFY community varchar(127)"}, ""},
      {DB_SYNTAX_DB2, {}, "INTERNAL ERROR: Unknown database syntax 5\n"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(c.syntax, 64), c.printed);
    EXPECT_EQ(result, 1);
    Statements expected = c.widen;
    expected.push_back("UPDATE config SET var_value='65' WHERE var_name='DBFormatVersion'");
    EXPECT_EQ(recording->statements, expected) << c.syntax;
  }
}

}  // namespace
