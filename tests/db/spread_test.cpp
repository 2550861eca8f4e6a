// Statements spread over several connections (DBSpreadQueries).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/db.h"
#include "support/test_db.h"

namespace {

DbSpreadLane Lane(std::initializer_list<const char *> texts, bool endsLane = false) {
  DbSpreadLane lane;
  for (const char *text : texts) {
    DbSpreadQuery query;
    query.text = text;
    query.endsLane = endsLane;
    lane.push_back(std::move(query));
  }
  return lane;
}

// Each lane keeps its order on its connection; a failure ends its lane
// only where it says so, and carries the engine's number; the other
// lanes run to their end whatever connection they fell to.
TEST(Spread, LanesKeepTheirOrderAndTheirFailuresTheirOwn) {
  auto db = tvtest::OpenOrSkip("mysql");
  if (!db) return;
  std::vector<DbSpreadLane> lanes;
  for (int n = 0; n < 12; n++) {
    const std::string t = "t" + std::to_string(n);
    lanes.push_back(Lane({}));
    for (const std::string &text :
         {"CREATE TABLE " + t + " (id integer)", "CREATE INDEX i_" + t + " ON " + t + "(id)",
          "INSERT INTO " + t + " VALUES (" + std::to_string(n) + ")"}) {
      DbSpreadQuery query;
      query.text = text;
      lanes.back().push_back(query);
    }
  }
  // Lane 3 creates its index twice: the second fails (duplicate key
  // name) and the lane goes on; lane 5's second fails and ends it.
  lanes[3][2].text = "CREATE INDEX i_t3 ON t3(id)";
  lanes[3].push_back(lanes[3][0]);
  lanes[3].back().text = "INSERT INTO t3 VALUES (3)";
  lanes[5][1].text = "CREATE INDEX i_t5 ON missing_table(id)";
  lanes[5][1].endsLane = true;
  ASSERT_TRUE(DBSpreadQueries(db->handle(), lanes, 4)) << DBGetLastError(db->handle());

  for (int n = 0; n < 12; n++) {
    SCOPED_TRACE(n);
    const std::string t = "t" + std::to_string(n);
    if (n == 5) continue;
    EXPECT_EQ(db->value("SELECT count(*) FROM " + t + " WHERE id=" + std::to_string(n)), "1");
  }
  EXPECT_TRUE(lanes[3][2].sent);
  EXPECT_FALSE(lanes[3][2].ok);
  EXPECT_EQ(lanes[3][2].errorCode, 1061);
  EXPECT_NE(lanes[3][2].error.find("i_t3"), std::string::npos) << lanes[3][2].error;
  EXPECT_TRUE(lanes[3][3].ok);
  EXPECT_FALSE(lanes[5][1].ok);
  EXPECT_EQ(lanes[5][1].errorCode, 1146);
  EXPECT_FALSE(lanes[5][2].sent);
  EXPECT_EQ(db->value("SELECT count(*) FROM t5"), "0");
}

// The connections work where the handle's own works now, after a USE,
// and leave its open transaction as it was.
TEST(Spread, FollowsTheDatabaseAndLeavesTheTransaction) {
  auto db = tvtest::OpenOrSkip("mysql");
  auto other = tvtest::OpenOrSkip("mysql");
  if (!db || !other) return;
  const std::string home = db->value("SELECT DATABASE()");
  const std::string away = other->value("SELECT DATABASE()");
  std::vector<DbSpreadLane> lanes{Lane({"CREATE TABLE here (id integer)"})};
  ASSERT_TRUE(DBSpreadQueries(db->handle(), lanes, 2)) << DBGetLastError(db->handle());
  ASSERT_TRUE(lanes[0][0].ok) << lanes[0][0].error;

  ASSERT_TRUE(db->exec("USE " + away));
  ASSERT_TRUE(DBBegin(db->handle()));
  ASSERT_TRUE(db->exec("CREATE TABLE kept (id integer)"));
  ASSERT_TRUE(db->exec("INSERT INTO kept VALUES (1)"));
  lanes = {Lane({"CREATE TABLE there (id integer)"}), Lane({"CREATE TABLE there2 (id integer)"})};
  ASSERT_TRUE(DBSpreadQueries(db->handle(), lanes, 2)) << DBGetLastError(db->handle());
  EXPECT_TRUE(lanes[0][0].ok && lanes[1][0].ok) << lanes[0][0].error << lanes[1][0].error;
  ASSERT_TRUE(DBRollback(db->handle()));
  EXPECT_EQ(other->value("SELECT count(*) FROM kept"), "0");
  EXPECT_EQ(other->value("SELECT count(*) FROM information_schema.tables WHERE table_schema='" + away +
                         "' AND table_name IN ('there','there2')"),
            "2");
  EXPECT_EQ(other->value("SELECT count(*) FROM information_schema.tables WHERE table_schema='" + home +
                         "' AND table_name='here'"),
            "1");
}

// Engines without sibling connections, and a Galera node, send nothing
// and say so.
TEST(Spread, OtherServersSendNothing) {
  for (const char *server : {"sqlite", "pgsql", "galera"}) {
    SCOPED_TRACE(server);
    auto db = std::string(server) == "galera" ? tvtest::OpenOnGaleraOrSkip() : tvtest::OpenOrSkip(server);
    if (!db) continue;
    std::vector<DbSpreadLane> lanes{Lane({"CREATE TABLE t (id integer)"})};
    EXPECT_FALSE(DBSpreadQueries(db->handle(), lanes, 4));
    EXPECT_FALSE(lanes[0][0].sent);
    EXPECT_STRNE(DBGetLastError(db->handle()), "");
    EXPECT_TRUE(db->exec("CREATE TABLE t (id integer)"));
  }
}

}  // namespace
