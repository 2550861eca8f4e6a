// The dialect branches of steps 200 -> 216 for the engines that cannot run
// here (Oracle, SQL Server, the sixth engine), through a recording
// connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorded_steps.h"
#include "session/globals.h"

namespace {

using upgradetest::OracleNullable;
using upgradetest::Statements;

class RecordedSteps200To216 : public upgradetest::RecordedStepTest {
 protected:
  // Runs the step that starts at from on a recording of the dialect with
  // the canned answers; returns its result.
  int run(int syntax, int from,
          const std::vector<std::pair<std::string, tvtest::Recording::Rows>> &answers = {}) {
    use(syntax);
    recording->answers = answers;
    return runStep(from);
  }
};

// Oracle refuses to relax a column that is nullable already (ORA-01451):
// alarms.hd_ref, object_properties.comments, event_log.event_message and
// user_tag are. Each column goes through the block that lets that error
// pass; no bare MODIFY is sent. The other dialects relax nothing.
TEST_F(RecordedSteps200To216, OracleRelaxesColumnsThatMayBeNullableAlready) {
  const struct {
    int from;
    Statements relaxed;
  } cases[] = {
      {201,
       {OracleNullable("alarms", "message"), OracleNullable("alarms", "alarm_key"),
        OracleNullable("alarms", "hd_ref")}},
      {203, {OracleNullable("object_properties", "comments")}},
      {205,
       {OracleNullable("audit_log", "message"), OracleNullable("event_log", "event_message"),
        OracleNullable("event_log", "user_tag"), OracleNullable("syslog", "hostname"),
        OracleNullable("syslog", "msg_tag"), OracleNullable("syslog", "msg_text"),
        OracleNullable("snmp_trap_log", "trap_varlist")}},
  };
  for (const auto &c : cases) {
    ForceRepair = 1;
    EXPECT_EQ(run(DB_SYNTAX_ORACLE, c.from), 1) << c.from;
    EXPECT_EQ(sentWith("MODIFY"), c.relaxed) << c.from;
    for (int syntax : {DB_SYNTAX_MSSQL, DB_SYNTAX_DB2}) {
      EXPECT_EQ(run(syntax, c.from), 1) << c.from;
      EXPECT_EQ(sentWith("MODIFY"), Statements{}) << c.from << " " << syntax;
    }
  }
}

// The template of each dialect, and the indexes of every collected-data
// table dropped by the names the catalogue gives, in the dialect's form.
TEST_F(RecordedSteps200To216, IndexTemplateAndReindexPerDialect) {
  const struct {
    int syntax;
    const char *stored;
    Statements reindex;
  } cases[] = {
      {DB_SYNTAX_MSSQL,
       "CREATE CLUSTERED INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",
       {"SELECT i.name FROM sys.indexes AS i JOIN sys.tables AS t ON t.object_id=i.object_id WHERE "
        "t.object_id=OBJECT_ID(N'idata_7','U')",
        "DROP INDEX idx_idata_7_item_id ON idata_7", "DROP INDEX idx_idata_7_id_timestamp ON idata_7"}},
      {DB_SYNTAX_ORACLE,
       "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",
       {"SELECT index_name FROM user_indexes WHERE table_name=upper('idata_7')",
        "DROP INDEX idx_idata_7_item_id", "DROP INDEX idx_idata_7_id_timestamp"}},
      {DB_SYNTAX_DB2, "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)", {}},
  };
  for (const auto &c : cases) {
    std::string format = c.stored;
    std::string index = format;
    for (size_t at; (at = index.find("%d")) != std::string::npos;) index.replace(at, 2, "7");
    EXPECT_EQ(run(c.syntax, 209,
                  {{"SELECT id FROM nodes", {{"7"}}},
                   {"idata_7", {{"idx_idata_7_item_id"}, {"idx_idata_7_id_timestamp"}}},
                   {"IDataIndexCreationCommand_0", {{format}}}}),
              1);
    Statements expected = {
        "DELETE FROM metadata WHERE var_name like 'IDataIndexCreationCommand_%'",
        "INSERT INTO metadata (var_name,var_value)\tVALUES ('IDataIndexCreationCommand_0','" + format + "')",
        "SELECT id FROM nodes ORDER BY id"};
    // The templates are read once, before the first table.
    for (int n = 0; n < 10; n++)
      expected.push_back("SELECT var_value FROM metadata WHERE var_name='IDataIndexCreationCommand_" +
                         std::to_string(n) + "'");
    expected.insert(expected.end(), c.reindex.begin(), c.reindex.end());
    expected.push_back(index);
    expected.push_back("UPDATE metadata SET var_value='210' WHERE var_name='SchemaVersion'");
    EXPECT_EQ(recording->statements, expected) << c.syntax;
    EXPECT_EQ(printed, "Reindexing table idata_7\n");
  }
}

// Without a row limit the values of a node's text items are read at
// once, as the step has it; each goes back by item, time stamp and stored
// text. On Oracle every node's table is relaxed first.
TEST_F(RecordedSteps200To216, OracleCollectedValues) {
  EXPECT_EQ(run(DB_SYNTAX_ORACLE, 213,
                {{"FROM idata_100", {{"7", "5", "a#41"}, {"8", "5", "it#27s"}}},
                 {"datatype=4", {{"7", "100"}, {"8", "100"}}},
                 {"FROM nodes", {{"100"}}}}),
            1);
  Statements fromTheNodeList(recording->statements.begin() + 7, recording->statements.end());
  EXPECT_EQ(
      fromTheNodeList,
      (Statements{
          "SELECT * FROM (SELECT id FROM nodes ORDER BY id) WHERE ROWNUM<=1000",
          OracleNullable("idata_100", "idata_value"),
          "SELECT * FROM (SELECT id FROM nodes ORDER BY id) WHERE ROWNUM<=1000",
          "SELECT * FROM (SELECT item_id,node_id FROM items WHERE (datatype=4) ORDER BY item_id) WHERE "
          "ROWNUM<=1000",
          // One read per node, not per item.
          "SELECT item_id,idata_timestamp,idata_value FROM idata_100 WHERE item_id IN (7,8) AND idata_value "
          "LIKE '%#%'",
          "UPDATE idata_100 SET idata_value='aA' WHERE item_id=7 AND idata_timestamp=5 AND "
          "idata_value='a#41'",
          "UPDATE idata_100 SET idata_value='it''s' WHERE item_id=8 AND idata_timestamp=5 AND "
          "idata_value='it#27s'",
          "UPDATE metadata SET var_value='214' WHERE var_name='SchemaVersion'"}));
  EXPECT_EQ(
      recording->statements[6],
      "UPDATE metadata SET var_value='CREATE TABLE idata_%d (item_id integer not null,idata_timestamp integer "
      "not null,idata_value varchar(255) null)' WHERE var_name='IDataTableCreationCommand'");
}

// One statement per item and time stamp, however the rows come: texts
// alike once, several texts under a CASE (a decoded "#2341" is the stored
// "#41" of the row beside it, which a later statement would take for its
// own), more than an IN list takes in statements of the shorter texts
// first.
TEST_F(RecordedSteps200To216, ValuesOfOneTimeStampGoInOneStatement) {
  tvtest::Recording::Rows values = {
      {"8", "6", "#2341"}, {"7", "5", "a#41"}, {"8", "6", "#41"}, {"8", "6", "#41"}};
  values.push_back({"9", "7", "v#41-1000"});
  for (int n = 0; n < 1000; n++) values.push_back({"9", "7", "v#41-" + std::to_string(n)});
  for (int syntax : {DB_SYNTAX_ORACLE, DB_SYNTAX_MSSQL, DB_SYNTAX_DB2}) {
    EXPECT_EQ(run(syntax, 213,
                  {{"FROM idata_100", values},
                   {"datatype=4", {{"7", "100"}, {"8", "100"}, {"9", "100"}}},
                   {"FROM nodes", {{"100"}}}}),
              1);
    Statements updates = sentWith("UPDATE idata_100");
    ASSERT_EQ(updates.size(), 4u) << syntax;
    EXPECT_EQ(
        updates[0],
        "UPDATE idata_100 SET idata_value=CASE idata_value WHEN '#41' THEN 'A' WHEN '#2341' THEN '#41' END "
        "WHERE item_id=8 AND idata_timestamp=6 AND idata_value IN ('#41','#2341')");
    EXPECT_EQ(
        updates[1],
        "UPDATE idata_100 SET idata_value='aA' WHERE item_id=7 AND idata_timestamp=5 AND idata_value='a#41'");
    std::string cases, in;
    for (int n = 0; n < 1000; n++) {
      std::string t = std::to_string(n);
      cases += " WHEN 'v#41-" + t + "' THEN 'vA-" + t + "'";
      in += (n == 0 ? "'v#41-" : ",'v#41-") + t + "'";
    }
    EXPECT_EQ(updates[2], "UPDATE idata_100 SET idata_value=CASE idata_value" + cases +
                              " END WHERE item_id=9 AND idata_timestamp=7 AND idata_value IN (" + in + ")");
    EXPECT_EQ(updates[3],
              "UPDATE idata_100 SET idata_value='vA-1000' WHERE item_id=9 AND idata_timestamp=7 AND "
              "idata_value='v#41-1000'");
  }
}

}  // namespace
