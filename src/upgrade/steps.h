// The step table: one row per schema version the upgrade can start from.
// Most rows are data (the actions of the step); the few steps that need
// code of their own, such as the bridges that call other steps, have a
// procedure instead.
#pragma once

#include <span>

#include "upgrade/step_actions.h"

// Takes the current version and the row's `to`; returns non-zero on
// success, 0 when the step must be rolled back. Writes the new version
// itself.
using UpgradeStepProcedure = int (*)(int currentVersion, int targetVersion);

struct UpgradeStep {
  int from;
  int to;
  std::span<const step::Action> actions;
  UpgradeStepProcedure procedure = nullptr;  // instead of actions
};

// The rows of each version range, ascending by from, defined in the file
// of that range.
extern const std::span<const UpgradeStep> UpgradeSteps14To21;
extern const std::span<const UpgradeStep> UpgradeSteps21To27;
extern const std::span<const UpgradeStep> UpgradeSteps27To38;
extern const std::span<const UpgradeStep> UpgradeSteps38To47;
extern const std::span<const UpgradeStep> UpgradeSteps47To56;
extern const std::span<const UpgradeStep> UpgradeSteps56To64;
extern const std::span<const UpgradeStep> UpgradeSteps64To73;
extern const std::span<const UpgradeStep> UpgradeSteps73To81;
extern const std::span<const UpgradeStep> UpgradeSteps81To92;
// The legacy bridges of the versions 92 to 105.
extern const std::span<const UpgradeStep> UpgradeSteps92To105;
extern const std::span<const UpgradeStep> UpgradeSteps200To209;
extern const std::span<const UpgradeStep> UpgradeSteps209To216;
extern const std::span<const UpgradeStep> UpgradeSteps216To227;
extern const std::span<const UpgradeStep> UpgradeSteps227To228;
extern const std::span<const UpgradeStep> UpgradeSteps228To245;

// Every range, in ascending order of from.
std::span<const std::span<const UpgradeStep>> UpgradeStepRanges();

// The row for a version; null when no step starts there.
const UpgradeStep *FindUpgradeStep(int version);

// Runs a row for a database at `version`: its procedure, or its actions
// and then the write of its `to` version. Returns the step's result (1 or
// 0, as a procedure does).
int RunUpgradeStep(const UpgradeStep &step, int version);

// The upgrade command, ending at target instead of the tool's version:
// tests stop there to make a database of an older version with the
// tool's own steps. The messages are those of the command. Returns true
// when the database stands at target.
bool UpgradeDatabaseTo(int target);

// The last action of every step: writes the new version where the
// database keeps it at that version (config up to 86, metadata from 87).
// Returns false when the write failed and IgnoreSqlErrors is not set.
bool WriteSchemaVersion(int version);
