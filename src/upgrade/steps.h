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

// Every row, ascending by from; the last one reaches kToolSchemaVersion.
std::span<const UpgradeStep> UpgradeStepTable();

// The row for a version; null when no step starts there.
const UpgradeStep *FindUpgradeStep(int version);

// Where a database at a version from `since` on keeps its version: the
// statement that writes it, with %d for the version.
struct VersionStore {
  int since;
  const char *update;
};
// Ascending by since; the first covers every version of the table.
std::span<const VersionStore> VersionStoreTable();

// Runs a row for a database at `version`: its procedure, or its actions
// and then the write of its `to` version. Returns the step's result (1 or
// 0, as a procedure does).
int RunUpgradeStep(const UpgradeStep &step, int version);

// The upgrade command, ending at target instead of the tool's version:
// tests stop there to make a database of an older version with the
// tool's own steps. The messages are those of the command. Returns true
// when the database stands at target.
bool UpgradeDatabaseTo(int target);

// The last action of every step: writes the new version where a
// database at that version keeps it (VersionStoreTable). Returns false
// when the write failed and IgnoreSqlErrors is not set.
bool WriteSchemaVersion(int version);
