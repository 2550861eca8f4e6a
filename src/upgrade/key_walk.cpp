#include "upgrade/key_walk.h"

#include <cstdint>
#include <string>

#include "session/key_blocks.h"
#include "upgrade/step_actions.h"

namespace {

constexpr int kKeyBlockRows = 1000;

// The first column of a column list ("id,name" gives "id").
std::string KeyColumn(const char *columns) {
  std::string key(columns);
  return key.substr(0, key.find(','));
}

}  // namespace

bool ForEachRowByKey(const char *columns, const char *table, const char *where,
                     const std::function<bool(db_result_t, int)> &visit, FailedRead failedRead) {
  const std::string key = KeyColumn(columns);
  const std::string scope = where == nullptr ? "" : std::string("(") + where + ")";
  std::string after;
  for (;;) {
    std::string condition = scope;
    if (!after.empty()) condition += (condition.empty() ? "" : " AND ") + after;
    bool goOn;
    Result block =
        StepSelect(LimitedSelect(columns, table, condition, key.c_str(), kKeyBlockRows).c_str(), &goOn);
    if (block == nullptr) return goOn || failedRead == FailedRead::kGoesOn;
    int rows = DBGetNumRows(block.get());
    for (int row = 0; row < rows; row++)
      if (!visit(block.get(), row)) return false;
    if (!DialectLimitsRows() || rows < kKeyBlockRows) return true;
    after = key + ">" + std::to_string(DBGetFieldInt64(block.get(), rows - 1, 0));
  }
}
