#include <cstdio>

#include "upgrade/steps.h"

// Versions without a row (older ones whose steps are not in this build
// among them) stop the upgrade with "Unable to find upgrade procedure".
std::span<const std::span<const UpgradeStep>> UpgradeStepRanges() {
  static const std::span<const UpgradeStep> ranges[] = {
      UpgradeSteps14To21,   UpgradeSteps21To27,   UpgradeSteps27To38,   UpgradeSteps38To47,
      UpgradeSteps47To56,   UpgradeSteps56To64,   UpgradeSteps64To73,   UpgradeSteps73To81,
      UpgradeSteps81To92,   UpgradeSteps92To105,  UpgradeSteps200To209, UpgradeSteps209To216,
      UpgradeSteps216To227, UpgradeSteps227To228, UpgradeSteps228To245,
  };
  return ranges;
}

const UpgradeStep *FindUpgradeStep(int version) {
  for (std::span<const UpgradeStep> range : UpgradeStepRanges())
    for (const UpgradeStep &step : range)
      if (step.from == version) return &step;
  return nullptr;
}

int RunUpgradeStep(const UpgradeStep &step, int version) {
  if (step.procedure != nullptr) return step.procedure(version, step.to);
  return RunActions(step.actions) && WriteSchemaVersion(step.to) ? 1 : 0;
}

bool WriteSchemaVersion(int version) {
  char statement[256];
  if (version <= 86)
    snprintf(statement, sizeof(statement),
             "UPDATE config SET var_value='%d' WHERE var_name='DBFormatVersion'", version);
  else
    snprintf(statement, sizeof(statement),
             "UPDATE metadata SET var_value='%d' WHERE var_name='SchemaVersion'", version);
  return StepSql(statement);
}
