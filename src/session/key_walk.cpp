#include "session/key_walk.h"

#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

// "a,b,c" cut before its count-th comma: the key columns of a walk, and
// the order of its blocks.
std::string LeadingColumns(const std::string &columns, int count) {
  size_t end = std::string::npos;
  for (size_t from = 0; count > 0; count--, from = end + 1)
    if ((end = columns.find(',', from)) == std::string::npos) break;
  return columns.substr(0, end);
}

bool DialectLimitsRows() {
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL:
    case DB_SYNTAX_PGSQL:
    case DB_SYNTAX_SQLITE:
    case DB_SYNTAX_MSSQL:
    case DB_SYNTAX_ORACLE: return true;
    default: return false;
  }
}

}  // namespace

std::string BlockQuery(const KeyWalk &walk, const std::string &restriction) {
  const std::string where = BothConditions(walk.where, restriction);
  const std::string condition = where.empty() ? "" : " WHERE " + where;
  const std::string order = LeadingColumns(walk.columns, walk.keyColumns);
  std::string whole = "SELECT " + walk.columns + " FROM " + walk.from + condition + " ORDER BY " + order;
  if (!walk.inBlocks) return whole;
  const std::string limit = std::to_string(kBlockRows);
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL:
    case DB_SYNTAX_PGSQL:
    case DB_SYNTAX_SQLITE: return whole + " LIMIT " + limit;
    case DB_SYNTAX_MSSQL:
      return "SELECT TOP " + limit + " " + walk.columns + " FROM " + walk.from + condition + " ORDER BY " +
             order;
    case DB_SYNTAX_ORACLE: return "SELECT * FROM (" + whole + ") WHERE ROWNUM<=" + limit;
    default: return whole;
  }
}

bool IsLastBlock(db_result_t block) { return !DialectLimitsRows() || DBGetNumRows(block) < kBlockRows; }

std::string KeyColumn(const KeyWalk &walk) { return LeadingColumns(walk.columns, 1); }

std::string KeyAfter(const KeyWalk &walk, int64_t last) {
  return KeyColumn(walk) + ">" + std::to_string(last);
}

std::string BothConditions(const std::string &a, const std::string &b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + " AND " + b;
}

std::string KeyBlocks::query() const {
  if (!started_) return BlockQuery(walk_, "");
  if (walk_.keyColumns == 1) return BlockQuery(walk_, KeyAfter(walk_, last_[0]));
  const std::string first = KeyColumn(walk_);
  const std::string second = LeadingColumns(walk_.columns, 2).substr(first.size() + 1);
  const std::string value = std::to_string(last_[0]);
  return BlockQuery(walk_, "(" + first + ">" + value + " OR (" + first + "=" + value + " AND " + second +
                               ">" + std::to_string(last_[1]) + "))");
}

void KeyBlocks::pass(db_result_t block) {
  const int rows = DBGetNumRows(block);
  over_ = !walk_.inBlocks || IsLastBlock(block);
  if (rows == 0) return;
  started_ = true;
  for (int column = 0; column < walk_.keyColumns; column++)
    last_[column] = DBGetFieldInt64(block, rows - 1, column);
}

Result ReadBlock(const char *query) { return Result(SelectSql(query)); }

WalkEnd ForEachRowByKey(const KeyWalk &walk, const std::function<bool(db_result_t, int)> &visit,
                        const BlockRead &read) {
  for (KeyBlocks blocks(walk); !blocks.over();) {
    Result block = read(blocks.query().c_str());
    if (block == nullptr) return WalkEnd::kReadFailed;
    for (int row = 0; row < DBGetNumRows(block.get()); row++)
      if (!visit(block.get(), row)) return WalkEnd::kStopped;
    blocks.pass(block.get());
  }
  return WalkEnd::kLastRow;
}
