#include <cstdio>
#include <vector>

#include "upgrade/steps.h"

// The files of steps, by era, each defining its rows in version order.
// This is the one place that names them; a new step goes at the end of
// the last file and needs no change here.
extern const std::span<const UpgradeStep> UpgradeSteps14To21;
extern const std::span<const UpgradeStep> UpgradeSteps21To27;
extern const std::span<const UpgradeStep> UpgradeSteps27To38;
extern const std::span<const UpgradeStep> UpgradeSteps38To47;
extern const std::span<const UpgradeStep> UpgradeSteps47To56;
extern const std::span<const UpgradeStep> UpgradeSteps56To64;
extern const std::span<const UpgradeStep> UpgradeSteps64To73;
extern const std::span<const UpgradeStep> UpgradeSteps73To81;
extern const std::span<const UpgradeStep> UpgradeSteps81To92;
extern const std::span<const UpgradeStep> UpgradeSteps92To105;  // the legacy bridges
extern const std::span<const UpgradeStep> UpgradeSteps200To209;
extern const std::span<const UpgradeStep> UpgradeSteps209To216;
extern const std::span<const UpgradeStep> UpgradeSteps216To227;
extern const std::span<const UpgradeStep> UpgradeSteps227To228;
extern const std::span<const UpgradeStep> UpgradeStepsFrom228;

// Versions without a row (older ones whose steps are not in this build
// among them) stop the upgrade with "Unable to find upgrade procedure".
std::span<const UpgradeStep> UpgradeStepTable() {
  static const std::vector<UpgradeStep> table = [] {
    std::vector<UpgradeStep> rows;
    for (std::span<const UpgradeStep> era :
         {UpgradeSteps14To21, UpgradeSteps21To27, UpgradeSteps27To38, UpgradeSteps38To47, UpgradeSteps47To56,
          UpgradeSteps56To64, UpgradeSteps64To73, UpgradeSteps73To81, UpgradeSteps81To92, UpgradeSteps92To105,
          UpgradeSteps200To209, UpgradeSteps209To216, UpgradeSteps216To227, UpgradeSteps227To228,
          UpgradeStepsFrom228})
      rows.insert(rows.end(), era.begin(), era.end());
    return rows;
  }();
  return table;
}

const UpgradeStep *FindUpgradeStep(int version) {
  for (const UpgradeStep &step : UpgradeStepTable())
    if (step.from == version) return &step;
  return nullptr;
}

int RunUpgradeStep(const UpgradeStep &step, int version) {
  if (step.procedure != nullptr) return step.procedure(version, step.to);
  return RunActions(step.actions) && WriteSchemaVersion(step.to) ? 1 : 0;
}

// The step 86 -> 87 creates the metadata table and writes 87 there.
std::span<const VersionStore> VersionStoreTable() {
  static constexpr VersionStore kStores[] = {
      {0, "UPDATE config SET var_value='%d' WHERE var_name='DBFormatVersion'"},
      {87, "UPDATE metadata SET var_value='%d' WHERE var_name='SchemaVersion'"},
  };
  return kStores;
}

bool WriteSchemaVersion(int version) {
  const VersionStore *store = nullptr;
  for (const VersionStore &candidate : VersionStoreTable())
    if (candidate.since <= version) store = &candidate;
  char statement[256];
  snprintf(statement, sizeof(statement), store->update, version);
  return StepSql(statement);
}
