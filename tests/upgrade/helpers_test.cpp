// The step helpers on the real engines.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "session/globals.h"
#include "support/captured_output.h"
#include "support/scoped_state.h"
#include "support/test_db.h"
#include "upgrade/helpers.h"
#include "upgrade/step_actions.h"

namespace {

class StepHelpers : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    db->createVariableTables(244);
    db->makeCurrent();
  }
  void setVariable(const std::string &name, const std::string &stored, int visible = 1, int restart = 0) {
    db->exec("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('" + name +
             "','" + stored + "'," + std::to_string(visible) + "," + std::to_string(restart) + ")");
  }
  tvtest::ScopedOptions options;
  std::unique_ptr<tvtest::TestDatabase> db;
};

TEST_P(StepHelpers, ReadConfigVariableParsesLikeTheServer) {
  if (!db) return;
  const struct {
    const char *stored;
    int32_t value;
    uint32_t unsignedValue;
  } cases[] = {
      {"0x10", 16, 16},
      {"010", 8, 8},
      {"abc", 0, 0},
      {"#00", 0, 0},
      {"-7", -7, 4294967289u},
      {"42abc", 42, 42},
      {"99999999999", INT32_MAX, UINT32_MAX},
      {"-99999999999", INT32_MIN, UINT32_MAX},
  };
  int n = 0;
  for (const auto &c : cases) {
    std::string name = "Var" + std::to_string(n++);
    setVariable(name, c.stored);
    EXPECT_EQ(ReadConfigVariable(name.c_str(), 5184000), c.value) << c.stored;
    EXPECT_EQ(ReadConfigVariableUnsigned(name.c_str(), 3), c.unsignedValue) << c.stored;
  }
  EXPECT_EQ(ReadConfigVariable("Missing", 5184000), 5184000);
  EXPECT_EQ(ReadConfigVariableUnsigned("Missing", 3), 3u);
  std::string longName(128, 'N');
  setVariable(longName.substr(0, 63), "1");
  EXPECT_EQ(ReadConfigVariable(longName.c_str(), 77), 77);
}

TEST_P(StepHelpers, AddConfigVariableKeepsWhatExists) {
  if (!db) return;
  setVariable("Kept", "old", 0, 1);
  TraceMode = true;
  tvtest::CapturedOutput captured;
  EXPECT_TRUE(AddConfigVariable("Kept", "new", 1, 0, false));
  EXPECT_EQ(captured.text(), "");  // not even the existence query is echoed
  TraceMode = false;
  EXPECT_EQ(db->rows("SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='Kept'"),
            "old|0|1");

  EXPECT_TRUE(AddConfigVariable("Kept", "it's 100%", 1, 0, true));
  EXPECT_EQ(db->rows("SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='Kept'"),
            "it#27s 100#25|0|1");

  EXPECT_TRUE(AddConfigVariable("Fresh", "", 1, 1, false));
  EXPECT_EQ(db->rows("SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='Fresh'"),
            "#00|1|1");
}

// Plain texts are encoded; stored ones go as written, their '%' and '#'
// not encoded a second time.
TEST_P(StepHelpers, EventTemplateIsStoredEncoded) {
  if (!db) return;
  db->exec(
      "CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity integer,"
      "flags integer,message varchar(255),description varchar(4000),PRIMARY KEY(event_code))");
  EXPECT_TRUE(AddEventTemplate(77, "SYS_TEST", 2, "Port %2 it's", "Line\r\nnext", false));
  EXPECT_TRUE(AddEventTemplate(78, "SYS_OLD", 1, "Service #22%1#22 down", "Line#0D0Anext", true));
  EXPECT_EQ(db->rows("SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                     "ORDER BY event_code"),
            "77|SYS_TEST|2|1|Port #252 it#27s|Line#0D#0Anext\n"
            "78|SYS_OLD|1|1|Service #22%1#22 down|Line#0D0Anext");
  tvtest::CapturedOutput captured;
  EXPECT_FALSE(AddEventTemplate(77, "SYS_TEST", 2, "again", "again", false));  // duplicate key
  EXPECT_NE(captured.text().find("SQL query failed ("), std::string::npos);
}

TEST_P(StepHelpers, NullableColumnSendsNothingHere) {
  if (!db) return;
  TraceMode = true;
  tvtest::CapturedOutput captured;
  EXPECT_TRUE(MakeColumnNullable("no_such_table", "no_such_column", "varchar(255)"));
  EXPECT_EQ(captured.text(), "");
}

// Enough rows for several pages, two rows per key and one key of three
// rows so that a page boundary splits a key; "x#2341" decodes to "x#41",
// which must not be decoded a second time.
TEST_P(StepHelpers, RecodeColumnStringsOverSeveralPages) {
  if (!db) return;
  db->execAll({"CREATE TABLE digits (d integer not null)",
               "INSERT INTO digits (d) VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)",
               "CREATE TABLE recoded (k integer not null,v varchar(100))"});
  const std::string rows =
      "INSERT INTO recoded (k,v) SELECT a.d+10*b.d+100*c.d+1000*e.d+10000*f.d,"
      "CASE WHEN a.d IN (0,2,4,6,8) THEN 'x#2341' WHEN a.d=1 THEN '#00' WHEN a.d=3 THEN NULL ELSE 'plain' "
      "END "
      "FROM digits a,digits b,digits c,digits e,digits f WHERE f.d<3";
  db->execAll({rows, rows, "INSERT INTO recoded (k,v) VALUES (9998,'x#2341')"});
  ASSERT_TRUE(RecodeColumnStrings("recoded", "k", "v"));
  EXPECT_EQ(db->rows("SELECT sum(CASE WHEN v='x#41' THEN 1 ELSE 0 END),sum(CASE WHEN v='' THEN 1 ELSE 0 END),"
                     "sum(CASE WHEN v='plain' THEN 1 ELSE 0 END),sum(CASE WHEN v IS NULL THEN 1 ELSE 0 END),"
                     "count(*) FROM recoded"),
            "30001|6000|18000|6000|60001");
  db->exec("DROP TABLE recoded");
  tvtest::CapturedOutput captured;
  EXPECT_FALSE(RecodeColumnStrings("recoded", "k", "v"));
  EXPECT_NE(captured.text().find("SQL query failed ("), std::string::npos);
}

// The step's walk reads under the step rule: a failed read ends the step
// unless errors are ignored, or goes on when the conversion says so; a
// visit that returns false ends it.
TEST_P(StepHelpers, StepWalkFollowsTheStepRule) {
  if (!db) return;
  db->exec("CREATE TABLE walked (k integer not null, PRIMARY KEY(k))");
  db->exec("INSERT INTO walked (k) VALUES (1),(2),(3)");
  std::vector<int64_t> keys;
  EXPECT_TRUE(StepForEachRow("k", "walked", "k<>2", [&keys](db_result_t block, int row) {
    keys.push_back(DBGetFieldInt64(block, row, 0));
    return true;
  }));
  EXPECT_EQ(keys, (std::vector<int64_t>{1, 3}));
  EXPECT_FALSE(StepForEachRow("k", "walked", nullptr, [](db_result_t, int) { return false; }));

  tvtest::CapturedOutput captured;
  const auto visit = [](db_result_t, int) { return true; };
  EXPECT_FALSE(StepForEachRow("k", "missing_table", nullptr, visit));
  EXPECT_TRUE(StepForEachRow("k", "missing_table", nullptr, visit, FailedRead::kGoesOn));
  IgnoreSqlErrors = true;
  EXPECT_TRUE(StepForEachRow("k", "missing_table", nullptr, visit));
  EXPECT_NE(captured.text().find("SQL query failed ("), std::string::npos);
  db->exec("DROP TABLE walked");
}

// The lines of a part end at the first failure, as a batch's do, and go
// on past it under -X.
TEST_P(StepHelpers, PartEndsAtAFailedLineUnlessIgnoringErrors) {
  if (!db) return;
  db->execAll({"CREATE TABLE part_rows (id integer not null,PRIMARY KEY(id))",
               "INSERT INTO part_rows (id) VALUES (1)"});
  static constexpr step::Line kLines[] = {
      step::AddedColumn{"part_rows", "flag", "integer", "7"},
      step::Statement{"INSERT INTO part_rows (id) VALUES (1)"},  // duplicate key
      step::Statement{"INSERT INTO part_rows (id,flag) VALUES (2,0)"},
  };
  static constexpr step::Action kPart[] = {step::Part{kLines}};
  tvtest::CapturedOutput captured;
  EXPECT_FALSE(RunActions(kPart));
  EXPECT_EQ(db->rows("SELECT id,flag FROM part_rows ORDER BY id"), "1|7");
  IgnoreSqlErrors = true;  // the column is there now: its ALTER fails too
  EXPECT_TRUE(RunActions(kPart));
  EXPECT_EQ(db->rows("SELECT id,flag FROM part_rows ORDER BY id"), "1|7\n2|0");
  db->exec("DROP TABLE part_rows");
}

INSTANTIATE_TEST_SUITE_P(Engines, StepHelpers, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
