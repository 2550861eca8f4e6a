#include "start_versions.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "session/globals.h"
#include "upgrade/steps.h"

namespace upgradetest {
namespace {

bool OffMainLine(int version) { return (version > 92 && version <= 105) || (version > 232 && version < 238); }

// The main-line version the database of an older-numbering version is
// made from.
int MadeFrom(int version) { return version < 100 ? version + 108 : 207; }

void SetVersion(tvtest::TestDatabase &db, int version) {
  db.exec("UPDATE metadata SET var_value='" + std::to_string(version) + "' WHERE var_name='SchemaVersion'");
}

}  // namespace

const std::vector<int> &StartVersions() {
  static const std::vector<int> versions = [] {
    std::vector<int> v;
    for (int i = 14; i <= 105; i++) v.push_back(i);
    for (int i = 200; i < kToolSchemaVersion; i++) v.push_back(i);
    return v;
  }();
  return versions;
}

bool FullMatrix() {
  const char *value = getenv("TVDBMGR_FULL_MATRIX");
  return value != nullptr && strcmp(value, "1") == 0;
}

bool InReducedMatrix(int version) { return version % 10 == 4 || OffMainLine(version) || version == 92; }

std::string MissingStepBetween(int from, int to) {
  for (int version = from; version != to;) {
    const UpgradeStep *step = FindUpgradeStep(version);
    if (step == nullptr) return "this build has no step from version " + std::to_string(version);
    if (step->to > to && version < to)
      return "the steps from " + std::to_string(from) + " pass " + std::to_string(to);
    version = step->to;
  }
  return "";
}

std::string MissingStep(int version) {
  std::string missing;
  if (version > 92 && version <= 105) {
    const int base = MadeFrom(version);
    missing = MissingStepBetween(14, base);
    if (missing.empty() && version >= 100)
      missing = MissingStepBetween(209, version == 105 ? 214 : 110 + version);
    if (missing.empty() && version == 105) missing = MissingStepBetween(216, 217);
  } else if (!OffMainLine(version)) {
    missing = MissingStepBetween(14, version);
  }
  return missing.empty() ? MissingStepBetween(version, kToolSchemaVersion) : missing;
}

std::unique_ptr<tvtest::TestDatabase> DatabaseAtStart(const std::string &engine, int version,
                                                      const BaselineNodes &nodes) {
  if (version > 232 && version < 238) return DatabaseAt(engine, version);
  std::unique_ptr<tvtest::TestDatabase> db = BaselineDatabase(engine, nodes);
  if (db == nullptr) return nullptr;
  const int base = version > 92 && version <= 105 ? MadeFrom(version) : version;
  UpgradeTo(*db, base);
  if (DBGetSchemaVersion(db->handle()) != base) return nullptr;
  if (base == version) return db;

  // The steps of the older line that these versions already had, run by
  // the upgrade itself from where they start.
  if (version >= 100) {
    SetVersion(*db, 209);
    if (UpgradeTo(*db, version == 105 ? 214 : 110 + version); ::testing::Test::HasFailure()) return nullptr;
    if (version == 105) {
      SetVersion(*db, 216);
      if (UpgradeTo(*db, 217); ::testing::Test::HasFailure()) return nullptr;
    }
  }
  if (!db->execAll({"DROP TABLE ap_common", "DROP TABLE ap_bindings", "DROP TABLE ap_config_files"}))
    return nullptr;
  SetVersion(*db, version);
  if (engine == "mysql") db->reconnect();
  return db;
}

std::string SegmentName(const Segment &segment) {
  return std::to_string(segment.from) + "_" + std::to_string(segment.to);
}

std::set<int> NodeIds(tvtest::TestDatabase &db) {
  std::set<int> ids;
  std::stringstream in(db.rows("SELECT id FROM nodes"));
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) ids.insert(atoi(line.c_str()));
  return ids;
}

}  // namespace upgradetest
