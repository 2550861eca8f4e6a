// The init scripts through the tool itself: every table of the export file
// exists after "tvdbmgr init" on each engine, with the same columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "session/globals.h"
#include "support/test_db.h"

namespace {

using Schema = std::map<std::string, std::set<std::string>>;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return s;
}

Schema ReadSchema(tvtest::TestDatabase &db) {
  std::string listing;
  if (db.engine() == "sqlite")
    listing = db.rows(
        "SELECT m.name, p.name FROM sqlite_master m JOIN pragma_table_info(m.name) p WHERE m.type='table'");
  else if (db.engine() == "pgsql")
    listing =
        db.rows("SELECT table_name, column_name FROM information_schema.columns WHERE table_schema='public'");
  else
    listing = db.rows(
        "SELECT table_name, column_name FROM information_schema.columns WHERE table_schema=database()");
  Schema schema;
  size_t pos = 0;
  while (pos < listing.size()) {
    size_t end = listing.find('\n', pos);
    if (end == std::string::npos) end = listing.size();
    std::string line = listing.substr(pos, end - pos);
    size_t bar = line.find('|');
    schema[Lower(line.substr(0, bar))].insert(Lower(line.substr(bar + 1)));
    pos = end + 1;
  }
  return schema;
}

TEST(InitScripts, EveryExportedTableHasTheSameColumnsOnEveryEngine) {
  // The export file's schema lists the exported tables.
  auto exportFile = tvtest::OpenOrSkip("sqlite");
  ASSERT_TRUE(exportFile);
  ASSERT_TRUE(exportFile->exec(tvtest::ReadFile(tvtest::SqlDir() + "/dbschema_sqlite.sql")));
  ASSERT_EQ(exportFile->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
            std::to_string(kToolSchemaVersion));
  Schema expected = ReadSchema(*exportFile);
  ASSERT_GE(expected.size(), 88u);  // 87 tables and metadata

  for (const std::string &engine : tvtest::AllEngines()) {
    auto db = tvtest::OpenOrSkip(engine);
    if (!db) continue;
    ASSERT_TRUE(db->initSchema());
    Schema actual = ReadSchema(*db);
    for (const auto &[table, columns] : expected) {
      ASSERT_TRUE(actual.count(table)) << engine << ": table " << table << " missing";
      EXPECT_EQ(actual[table], columns) << engine << ": columns of " << table;
    }
    EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
              std::to_string(kToolSchemaVersion));
    EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"), "UNLOCKED");
    EXPECT_EQ(db->value("SELECT count(*) FROM users WHERE id=0 AND guid<>''"), "1");
    EXPECT_EQ(db->value("SELECT count(*) FROM user_groups WHERE id=-2147483648 AND guid<>''"), "1");
  }
}

}  // namespace
