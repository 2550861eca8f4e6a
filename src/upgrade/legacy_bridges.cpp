// The versions 92 to 105 of the older numbering onto the 2xx numbering. A
// database at 92 + k (k up to 7) matches 200 + k but for the agent policy
// tables; one at 100 + j (j up to 4) matches 207 with the steps 209 -> 210
// to 209 + j -> 210 + j applied, and one at 105 matches 207 with 209 -> 214
// and 216 -> 217 applied. Each bridge creates what is missing and replays
// the steps the database never received, all in the one transaction of
// its row.
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr Action kPolicyTables[] = {
    CreateTable{"CREATE TABLE ap_common ("
                "id integer not null,"
                "policy_type integer not null,"
                "version integer not null,"
                "description $SQL:TEXT not null,"
                "PRIMARY KEY(id))"},
    CreateTable{"CREATE TABLE ap_bindings ("
                "policy_id integer not null,"
                "node_id integer not null,"
                "PRIMARY KEY(policy_id,node_id))"},
    CreateTable{"CREATE TABLE ap_config_files ("
                "policy_id integer not null,"
                "file_name varchar(63) not null,"
                "file_content $SQL:TEXT not null,"
                "PRIMARY KEY(policy_id))"},
};

// Returns 0 when the bridge must be rolled back.
int BridgeLegacy9xVersion(int /*currentVersion*/, int targetVersion) {
  return RunActions(kPolicyTables) && WriteSchemaVersion(targetVersion) ? 1 : 0;
}

// Runs the step of the main line that starts at from; false when it
// failed (the bridge then fails whole).
bool Replay(int from) {
  const UpgradeStep *step = FindUpgradeStep(from);
  return step != nullptr && RunUpgradeStep(*step, from) != 0;
}

// The policy tables, 207 -> 208 and 208 -> 209, then the steps from
// 210 + (version - 100) up to 213 -> 214: a database at 100 never received
// 210 -> 211, one at 103 only lacks 213 -> 214, one at 104 or 105 lacks
// none of them. Version 214 is written; false when the bridge must be
// rolled back.
bool BridgeToVersion214(int version) {
  if (!BridgeLegacy9xVersion(version, 207) || !Replay(207) || !Replay(208)) return false;
  for (int from = 210 + (version - 100); from <= 213; from++)
    if (!Replay(from)) return false;
  return WriteSchemaVersion(214);
}

// Returns 0 when the bridge must be rolled back.
int BridgeLegacy10xVersion(int currentVersion, int /*targetVersion*/) {
  return BridgeToVersion214(currentVersion) ? 1 : 0;
}

// 214 -> 215 and 215 -> 216 follow; the database has had 216 -> 217.
// Returns 0 when the bridge must be rolled back.
int BridgeLegacy105Version(int currentVersion, int /*targetVersion*/) {
  return BridgeToVersion214(currentVersion) && Replay(214) && Replay(215) && WriteSchemaVersion(217) ? 1 : 0;
}

constexpr UpgradeStep kRows[] = {
    {92, 200, {}, BridgeLegacy9xVersion},   {93, 201, {}, BridgeLegacy9xVersion},
    {94, 202, {}, BridgeLegacy9xVersion},   {95, 203, {}, BridgeLegacy9xVersion},
    {96, 204, {}, BridgeLegacy9xVersion},   {97, 205, {}, BridgeLegacy9xVersion},
    {98, 206, {}, BridgeLegacy9xVersion},   {99, 207, {}, BridgeLegacy9xVersion},
    {100, 214, {}, BridgeLegacy10xVersion}, {101, 214, {}, BridgeLegacy10xVersion},
    {102, 214, {}, BridgeLegacy10xVersion}, {103, 214, {}, BridgeLegacy10xVersion},
    {104, 214, {}, BridgeLegacy10xVersion}, {105, 217, {}, BridgeLegacy105Version},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps92To105 = kRows;
