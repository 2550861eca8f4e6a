// Export from one engine, import into another: every table must come
// back equal, row by row, NULLs and long texts included.
#include <gtest/gtest.h>

#include "transfer_fixture.h"

namespace {

struct Trip {
  std::string from, to;
  bool trace;  // -t takes the statement-per-row road instead of bulk loading
};

std::string Name(const ::testing::TestParamInfo<Trip> &info) {
  return info.param.from + "_to_" + info.param.to + (info.param.trace ? "_traced" : "");
}

class RoundTrip : public ::testing::TestWithParam<Trip> {};

TEST_P(RoundTrip, EveryTableComesBackEqual) {
  const Trip trip = GetParam();
  auto source = tvtest::OpenOrSkip(trip.from);
  if (!source) return;
  auto target = tvtest::OpenOrSkip(trip.to);
  if (!target) return;
  ASSERT_TRUE(tvtest::InitSchemaFast(*source));
  ASSERT_TRUE(tvtest::InitSchemaFast(*target));
  // A MySQL text column holds 65535 bytes; elsewhere texts are unbounded.
  const bool mysql = trip.from == "mysql" || trip.to == "mysql";
  tvtest::Populate(*source, mysql ? 65000 : 150 * 1024);
  const tvtest::Snapshot expected = tvtest::TakeSnapshot(*source);
  ASSERT_EQ(expected.at("idata_101").size(), 3u);

  const std::string file = tvtest::TempDir() + "/export.db";
  tvtest::WriteFile(file, "an older file that the export replaces");
  tvtest::RunResult r = tvtest::Tool(*source, {"export", file});
  ASSERT_TRUE(r.out.ends_with("Exporting table idata_102\nDatabase export complete.\n")) << r.out;

  std::vector<std::string> args = {"-f", "import", file};
  if (trip.trace) args.insert(args.begin(), "-t");
  r = tvtest::Tool(*target, args);
  ASSERT_TRUE(r.out.ends_with("Database import complete.\n")) << r.out.substr(0, 4000);
  EXPECT_EQ(r.out.find("SQL query failed"), std::string::npos);
  target->reconnect();
  const tvtest::Snapshot actual = tvtest::TakeSnapshot(*target);
  ASSERT_EQ(actual.size(), expected.size());
  for (const auto &[table, rows] : expected) {
    ASSERT_TRUE(actual.count(table)) << table;
    EXPECT_TRUE(actual.at(table) == rows)
        << trip.from << " -> " << trip.to << ": table " << table << " differs";
  }
  // The collected-data tables get the target's own indexes.
  EXPECT_NE(target->rows(trip.to == "sqlite"  ? "SELECT name FROM sqlite_master WHERE tbl_name='idata_100'"
                         : trip.to == "pgsql" ? "SELECT indexname FROM pg_indexes WHERE tablename='idata_100'"
                                              : "SHOW INDEX FROM idata_100"),
            "");
}

INSTANTIATE_TEST_SUITE_P(Engines, RoundTrip,
                         ::testing::Values(Trip{"sqlite", "sqlite", false}, Trip{"sqlite", "pgsql", false},
                                           Trip{"pgsql", "mysql", false}, Trip{"mysql", "sqlite", false},
                                           Trip{"sqlite", "pgsql", true}, Trip{"pgsql", "mysql", true}),
                         Name);

}  // namespace
