#include "start_versions.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "fixtures.h"
#include "session/globals.h"

namespace upgradetest {

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
