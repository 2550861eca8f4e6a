// Every version the upgrade accepts, on every engine, reaches the schema
// of a fresh database of that engine: tables, columns, types,
// nullability and indexes, with only the differences docs/schema.md
// documents. SQLite runs every version; the servers every tenth version
// and those off the main line, or all of them with TVDBMGR_FULL_MATRIX=1.
#include <gtest/gtest.h>

#include <tuple>

#include "catalogue.h"
#include "fixtures.h"
#include "scratch_in_memory.h"
#include "session/globals.h"
#include "start_versions.h"

namespace {

class UpgradeMatrix : public ::testing::TestWithParam<std::tuple<std::string, int>> {
  upgradetest::ScratchInMemory scratch_;
};

TEST_P(UpgradeMatrix, ReachesTheFreshSchema) {
  const auto &[engine, version] = GetParam();
  if (engine != "sqlite" && !upgradetest::FullMatrix() && !upgradetest::InReducedMatrix(version))
    GTEST_SKIP() << "outside the reduced server matrix; TVDBMGR_FULL_MATRIX=1 runs it";
  if (std::string missing = upgradetest::MissingStep(version); !missing.empty()) GTEST_SKIP() << missing;

  // Two nodes, so that the per-node tables and their conversions are
  // part of what is compared.
  auto db = upgradetest::DatabaseAtVersion(
      engine, version, {.nodes = {.firstNode = 100, .nodes = 2, .itemsPerNode = 2, .rowsPerItem = 2}});
  if (!db) return;
  ASSERT_EQ(DBGetSchemaVersion(db->handle()), version);

  tvtest::RunResult r = upgradetest::RunUpgrade(*db, {"-f"});
  EXPECT_TRUE(upgradetest::WithoutBanner(r.out).ends_with("Database upgrade succeeded\n")) << r.out;
  ASSERT_EQ(DBGetSchemaVersion(db->handle()), kToolSchemaVersion) << r.out;

  const std::set<std::string> fresh = upgradetest::FreshCatalogue(engine, upgradetest::NodeIds(*db));
  if (fresh.empty()) return;
  EXPECT_EQ(upgradetest::CatalogueDifferences(upgradetest::Catalogue(*db), fresh,
                                              upgradetest::DocumentedMissingLines()),
            "")
      << engine << " from " << version;
}

INSTANTIATE_TEST_SUITE_P(Versions, UpgradeMatrix,
                         ::testing::Combine(::testing::ValuesIn(tvtest::AllEngines()),
                                            ::testing::ValuesIn(upgradetest::StartVersions())),
                         [](const auto &info) {
                           return std::get<0>(info.param) + "_" + std::to_string(std::get<1>(info.param));
                         });

}  // namespace
