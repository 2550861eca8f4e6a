// The upgrade's walk from one version to another, shared by the upgrade
// itself and its rehearsal.
#pragma once

// Says, when the database at version has nothing to upgrade or must not
// be upgraded now, why (up to date, newer than this tool, locked by a
// server) and returns false.
bool ReadyToUpgrade(int version);

// How a walk ended.
struct ChainRun {
  int reached = 0;  // the version the database stands at
  int steps = 0;    // steps that went through
  // The step that failed (from 0: none failed), and whether an SQL error
  // was reported during it.
  int failedFrom = 0;
  int failedTo = 0;
  bool failedWithSqlError = false;
};

// Runs the steps from version up to target, each in a transaction of its
// own, under its journal where the dialect needs one, and stops at the
// first that fails. Prints the step lines and what went wrong, not the
// final message.
ChainRun RunUpgradeChain(int version, int target);
