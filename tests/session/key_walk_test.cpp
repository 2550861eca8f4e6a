// The keyed block walk on the real engines: every row once, in key order,
// across block boundaries, for one key column and for a pair whose first
// column repeats across a boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "session/key_walk.h"
#include "support/captured_output.h"
#include "support/test_db.h"

namespace {

class KeyWalkTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    db->makeCurrent();
    // 2,100 rows: a = n/700 and b = n%700, so a block boundary falls
    // inside a run of one a; id = n is unique, v = n%10.
    db->execAll(
        {"CREATE TABLE walked (id integer not null, a integer not null, b integer not null, v integer, "
         "PRIMARY KEY(id))",
         "CREATE TABLE digits (d integer)",
         "INSERT INTO digits (d) VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)",
         "INSERT INTO walked (id,a,b,v) SELECT n,CASE WHEN n<700 THEN 0 WHEN n<1400 THEN 1 ELSE 2 END,"
         "n-CASE WHEN n<700 THEN 0 WHEN n<1400 THEN 700 ELSE 1400 END,v FROM (SELECT "
         "x.d+10*y.d+100*z.d+1000*w.d AS n,x.d AS v FROM digits x,digits y,digits z,digits w) t "
         "WHERE n<2100"});
  }
  void TearDown() override {
    if (db) db->execAll({"DROP TABLE walked", "DROP TABLE digits"});
  }

  // The keys a walk visits and the blocks it reads.
  struct Visited {
    std::vector<std::pair<int64_t, int64_t>> keys;
    int reads = 0;
    WalkEnd end;
  };
  static Visited Walk(const KeyWalk &walk) {
    Visited visited;
    visited.end = ForEachRowByKey(
        walk,
        [&](db_result_t block, int row) {
          visited.keys.emplace_back(DBGetFieldInt64(block, row, 0),
                                    walk.keyColumns == 2 ? DBGetFieldInt64(block, row, 1) : 0);
          return true;
        },
        [&](const char *query) {
          visited.reads++;
          return ReadBlock(query);
        });
    return visited;
  }

  std::unique_ptr<tvtest::TestDatabase> db;
};

TEST_P(KeyWalkTest, VisitsEveryRowOnceInKeyOrder) {
  if (!db) return;
  const struct {
    KeyWalk walk;
    size_t rows;
    int reads;
  } cases[] = {
      {{.columns = "id,v", .from = "walked"}, 2100, 3},
      {{.columns = "id", .from = "walked", .where = "v<>3"}, 1890, 2},
      {{.columns = "a,b", .from = "walked", .keyColumns = 2}, 2100, 3},
      {{.columns = "a,b,v", .from = "walked", .where = "a>0", .keyColumns = 2}, 1400, 2},
      {{.columns = "a,b", .from = "walked", .keyColumns = 2, .inBlocks = false}, 2100, 1},
  };
  for (const auto &c : cases) {
    const Visited visited = Walk(c.walk);
    const std::string context = c.walk.columns + " where " + c.walk.where;
    EXPECT_EQ(visited.end, WalkEnd::kLastRow) << context;
    EXPECT_EQ(visited.keys.size(), c.rows) << context;
    EXPECT_EQ(visited.reads, c.reads) << context;
    EXPECT_TRUE(std::is_sorted(visited.keys.begin(), visited.keys.end()) &&
                std::adjacent_find(visited.keys.begin(), visited.keys.end()) == visited.keys.end())
        << context;
  }
}

TEST_P(KeyWalkTest, EndsWhereTheVisitOrTheReadSays) {
  if (!db) return;
  int visited = 0;
  EXPECT_EQ(ForEachRowByKey({.columns = "id", .from = "walked"},
                            [&visited](db_result_t, int) { return ++visited < 1500; }),
            WalkEnd::kStopped);
  EXPECT_EQ(visited, 1500);

  tvtest::CapturedOutput captured;
  EXPECT_EQ(
      ForEachRowByKey({.columns = "id", .from = "missing_table"}, [](db_result_t, int) { return true; }),
      WalkEnd::kReadFailed);
  EXPECT_NE(captured.text().find("SQL query failed ("), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Engines, KeyWalkTest, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
