// The step table itself, without a database: its rows form one chain to
// the tool's version, each version written lands where a database at it
// keeps its version, no per-dialect action forgets a dialect, and no event
// template is added twice.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <variant>
#include <vector>

#include "session/globals.h"
#include "upgrade/steps.h"

namespace {

// The versions the upgrade accepts: the old numbering up to 105 and the
// 2xx numbering, from the oldest version whose steps are in this build.
std::set<int> AcceptedVersions(int oldest) {
  std::set<int> versions;
  for (int v = oldest; v < kToolSchemaVersion; v++)
    if (v <= 105 || v >= 200) versions.insert(v);
  return versions;
}

TEST(StepTable, RowsAscendAndEveryAcceptedVersionChainsToTheToolVersion) {
  std::set<int> froms;
  int previous = 0;
  for (const UpgradeStep &step : UpgradeStepTable()) {
    EXPECT_GT(step.from, previous) << "row " << step.from << " out of order";
    EXPECT_GT(step.to, step.from) << "row " << step.from;
    EXPECT_LE(step.to, kToolSchemaVersion) << "row " << step.from;
    EXPECT_TRUE(step.procedure == nullptr || step.actions.empty()) << "row " << step.from;
    previous = step.from;
    froms.insert(step.from);
  }
  ASSERT_FALSE(froms.empty());
  EXPECT_EQ(UpgradeStepTable().back().to, kToolSchemaVersion);
  EXPECT_EQ(froms, AcceptedVersions(*froms.begin()));
  for (int from : froms) {
    int version = from;
    for (int hops = 0; version != kToolSchemaVersion && hops < 300; hops++) {
      const UpgradeStep *step = FindUpgradeStep(version);
      ASSERT_NE(step, nullptr) << "the chain from " << from << " breaks at " << version;
      version = step->to;
    }
    EXPECT_EQ(version, kToolSchemaVersion) << "from " << from;
  }
}

// A store takes over where a step arrives (that step creates it), and
// the first one covers every version a step writes.
TEST(StepTable, EveryVersionWrittenHasOneStore) {
  std::span<const VersionStore> stores = VersionStoreTable();
  ASSERT_FALSE(stores.empty());
  std::set<int> reached;
  for (const UpgradeStep &step : UpgradeStepTable()) reached.insert(step.to);
  EXPECT_LT(stores.front().since, *reached.begin());
  for (size_t i = 1; i < stores.size(); i++) {
    EXPECT_GT(stores[i].since, stores[i - 1].since) << "store " << i << " out of order";
    EXPECT_TRUE(reached.contains(stores[i].since)) << "no step arrives at " << stores[i].since;
  }
  for (const VersionStore &store : stores) {
    const char *mark = strstr(store.update, "%d");
    EXPECT_TRUE(mark != nullptr && strchr(mark + 2, '%') == nullptr) << store.update;
  }
}

void ExpectEveryDialect(std::span<const step::Action> actions, int from) {
  for (const step::Action &action : actions) {
    const auto &variant = static_cast<const step::ActionVariant &>(action);
    if (const auto *a = std::get_if<step::PerDialect>(&variant)) {
      for (const char *text : {a->mysql, a->pgsql, a->mssql, a->oracle, a->sqlite, a->other})
        EXPECT_NE(text, nullptr) << "a per-dialect action of step " << from << " forgets a dialect";
    } else if (const auto *q = std::get_if<step::Question>(&variant)) {
      ExpectEveryDialect(q->onYes, from);
      ExpectEveryDialect(q->onNo, from);
    }
  }
}

TEST(StepTable, NoPerDialectActionForgetsADialect) {
  for (const UpgradeStep &step : UpgradeStepTable()) ExpectEveryDialect(step.actions, step.from);
}

// The event templates of the actions, those of questions' answers and
// parts included.
void CollectEventTemplates(std::span<const step::Action> actions, std::vector<step::EventTemplate> &found) {
  for (const step::Action &action : actions) {
    const auto &variant = static_cast<const step::ActionVariant &>(action);
    if (const auto *t = std::get_if<step::EventTemplate>(&variant)) {
      found.push_back(*t);
    } else if (const auto *part = std::get_if<step::Part>(&variant)) {
      for (const step::Line &line : part->lines)
        if (const auto *t = std::get_if<step::EventTemplate>(&line)) found.push_back(*t);
    } else if (const auto *q = std::get_if<step::Question>(&variant)) {
      CollectEventTemplates(q->onYes, found);
      CollectEventTemplates(q->onNo, found);
    }
  }
}

// A code added twice fails on its key half-way through the chain; a
// quote in a stored text ends the literal early.
TEST(StepTable, EveryEventCodeIsAddedOnceAndStoredTextsAreEscaped) {
  std::map<int, int> addedBy;
  for (const UpgradeStep &step : UpgradeStepTable()) {
    std::vector<step::EventTemplate> templates;
    CollectEventTemplates(step.actions, templates);
    for (const step::EventTemplate &t : templates) {
      auto [where, added] = addedBy.emplace(t.code, step.from);
      EXPECT_TRUE(added) << "event " << t.code << " is added by steps " << where->second << " and "
                         << step.from;
      if (t.form != step::TextForm::kStored) continue;
      for (const char *text : {t.message, t.description})
        EXPECT_EQ(strchr(text, '\''), nullptr) << "event " << t.code << " of step " << step.from;
    }
  }
  EXPECT_FALSE(addedBy.empty());
}

}  // namespace
