// Databases at every version the upgrade accepts, on every engine: the
// main line from the version-14 baseline through the tool's own steps,
// and the versions off it (the older numbering's 93..105, the single
// steps between 232 and 238) made the way their own servers left them.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "baseline.h"
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

// Empty when this build has every step that DatabaseAtStart needs to
// make a database at version and that the upgrade needs to take it to
// the tool's version; otherwise says which step is missing.
std::string MissingStep(int version);

// Empty when the steps from `from` lead to `to`; otherwise the missing
// step.
std::string MissingStepBetween(int from, int to);

// A new database of the engine at version, or null (skipped or failed as
// by OpenOrSkip). On the main line it is the baseline with the nodes,
// brought there by the upgrade. A database at 92 + k (k = 1..7) is the
// one at 200 + k without the agent policy tables; one at 100 + j is the
// one at 207 without them but with the steps 209 -> 210 to
// 209 + j -> 210 + j of its own line applied, and one at 105 with
// 209 -> 214 and 216 -> 217 applied, which the bridges assume. 233..237
// are the fresh-schema databases of DatabaseAt (no nodes).
std::unique_ptr<tvtest::TestDatabase> DatabaseAtStart(const std::string &engine, int version,
                                                      const BaselineNodes &nodes);

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
