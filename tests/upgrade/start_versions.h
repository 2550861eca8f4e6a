// The versions the upgrade accepts, the share of them each engine runs,
// and the pieces of the main line that tests run side by side.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "session/globals.h"
#include "support/test_db.h"

namespace upgradetest {

// 14..91, 92..105 and 200 up to the tool's version: every version with a row in the step
// table, ascending.
const std::vector<int> &StartVersions();

// TVDBMGR_FULL_MATRIX=1: every version on every engine and every
// statement of every step, instead of the sample that fits CI's time.
bool FullMatrix();

// The versions the server engines run when the matrix is not full:
// every tenth version and every version off the main line.
bool InReducedMatrix(int version);

// The main line in pieces that CI runs side by side, each from the
// baseline brought to its first version and held against a database
// that took the same steps without faults.
struct Segment {
  int from;
  int to;
};
inline constexpr Segment kReferenceSegments[] = {
    {14, 40}, {40, 70}, {70, 200}, {200, 228}, {228, kToolSchemaVersion}};
// "14_40": the segment in a test's name.
std::string SegmentName(const Segment &segment);

// The ids of the database's nodes.
std::set<int> NodeIds(tvtest::TestDatabase &db);

}  // namespace upgradetest
