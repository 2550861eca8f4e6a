// The version-14 database that the old upgrade steps start from, and the
// monitored network a test or benchmark puts into it. Used by the upgrade
// tests and by bench/upgrade_old_bench, so it does not depend on gtest.
#pragma once

#include <string>

namespace upgradetest {

// Creates the version-14 tables and rows of tests/upgrade/baseline_v14.sql
// in the empty database of DbHandle, with the type macros of DbSyntax and
// the dialect record DBSyntax. Returns false with the failed statement and
// the engine's error in error.
bool LoadBaseline(std::string &error);

// Nodes as a version-14 server kept them: a node row, its access row, its
// data collection items and its collected-data table idata_<id> (made
// from the stored IDataTableCreationCommand template) holding
// rowsPerItem values per item. Node ids are firstNode, firstNode + 1, ...;
// item ids are node id * 100 + item number, so itemsPerNode stays below
// 100.
struct BaselineNodes {
  int firstNode = 100;
  int nodes = 0;
  int itemsPerNode = 0;
  int rowsPerItem = 0;
};

// Adds them to a database at version 14 (DbHandle) in one transaction.
// Returns false with the failed statement and the engine's error in error.
bool AddBaselineNodes(const BaselineNodes &set, std::string &error);

// The server's history: event log rows with ids 1..eventLogRows, and
// alarms with ids 1..alarms, each raised by an event of the log.
struct BaselineLogs {
  int eventLogRows = 0;
  int alarms = 0;
};

// Adds them to a database at version 14 (DbHandle) in one transaction.
// Returns false with the failed statement and the engine's error in error.
bool AddBaselineLogs(const BaselineLogs &set, std::string &error);

}  // namespace upgradetest
