// Recoding a text column from the escaped form to plain storage. Tables
// such as raw_dci_values hold millions of rows, so the rows that need work
// (those holding "#") are read in key order one page at a time, and the
// changed texts go back in multi-row updates where the dialect has one.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/tv_string.h"
#include "session/globals.h"
#include "session/progress_line.h"
#include "session/sql_exec.h"
#include "upgrade/helpers.h"

namespace {

constexpr int kPageRows = 10000;
// A multi-row update is sent when it holds this many rows or this much
// text, whichever comes first; both keep statements well inside the
// engines' packet and statement limits.
constexpr int kUpdateRows = 1000;
constexpr size_t kUpdateBytes = 1 << 20;

// The page after lastKey (the first page when hasLast is false). Dialects
// without a known row limit get the whole selection at once.
std::string PageQuery(const char *table, const char *keyColumn, const char *column, bool hasLast,
                      int64_t lastKey, bool *paged) {
  String q;
  *paged = true;
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL:
    case DB_SYNTAX_PGSQL:
    case DB_SYNTAX_SQLITE:
      q.addFormattedString("SELECT %s,%s FROM %s WHERE %s LIKE '%%#%%'", keyColumn, column, table, column);
      if (hasLast) q.addFormattedString(" AND %s>%lld", keyColumn, static_cast<long long>(lastKey));
      q.addFormattedString(" ORDER BY %s LIMIT %d", keyColumn, kPageRows);
      break;
    case DB_SYNTAX_MSSQL:
      q.addFormattedString("SELECT TOP %d %s,%s FROM %s WHERE %s LIKE '%%#%%'", kPageRows, keyColumn, column,
                           table, column);
      if (hasLast) q.addFormattedString(" AND %s>%lld", keyColumn, static_cast<long long>(lastKey));
      q.addFormattedString(" ORDER BY %s", keyColumn);
      break;
    case DB_SYNTAX_ORACLE:
      q.addFormattedString("SELECT %s,%s FROM (SELECT %s,%s FROM %s WHERE %s LIKE '%%#%%'", keyColumn, column,
                           keyColumn, column, table, column);
      if (hasLast) q.addFormattedString(" AND %s>%lld", keyColumn, static_cast<long long>(lastKey));
      q.addFormattedString(" ORDER BY %s) WHERE ROWNUM<=%d", keyColumn, kPageRows);
      break;
    default:
      q.addFormattedString("SELECT %s,%s FROM %s WHERE %s LIKE '%%#%%'", keyColumn, column, table, column);
      *paged = false;
      break;
  }
  return q.str();
}

// Collects (key, literal) pairs and sends them. An update by key writes
// every row of that key, so a key whose rows run past a page boundary is
// complete after its first update, as if its rows had come in another
// order; skipping its remaining rows (key > last) is therefore safe.
class UpdateWriter {
 public:
  UpdateWriter(const char *table, const char *keyColumn, const char *column)
      : table_(table), keyColumn_(keyColumn), column_(column) {}

  bool add(int64_t key, const String &literal) {
    if (DbSyntax != DB_SYNTAX_PGSQL && DbSyntax != DB_SYNTAX_SQLITE && DbSyntax != DB_SYNTAX_MYSQL) {
      String statement;
      statement.addFormattedString("UPDATE %s SET %s=%s WHERE %s=%lld", table_, column_, literal.cstr(),
                                   keyColumn_, static_cast<long long>(key));
      return ExecSql(statement);
    }
    // MySQL has no VALUES list usable as a table in every version: a
    // UNION ALL of one-row SELECTs names the columns in its first row.
    if (DbSyntax == DB_SYNTAX_MYSQL) {
      values_ += rows_ == 0 ? "SELECT " : " UNION ALL SELECT ";
      values_ += std::to_string(key);
      values_ += rows_ == 0 ? " AS k," : ",";
      values_ += literal.str();
      if (rows_ == 0) values_ += " AS c";
    } else {
      values_ += rows_ == 0 ? "(" : ",(";
      values_ += std::to_string(key);
      values_ += ",";
      values_ += literal.str();
      values_ += ")";
    }
    rows_++;
    if (rows_ >= kUpdateRows || values_.size() >= kUpdateBytes) return flush();
    return true;
  }

  bool flush() {
    if (rows_ == 0) return true;
    String statement;
    if (DbSyntax == DB_SYNTAX_MYSQL)
      statement.addFormattedString("UPDATE %s JOIN (%s) AS v ON %s.%s=v.k SET %s.%s=v.c", table_,
                                   values_.c_str(), table_, keyColumn_, table_, column_);
    else
      statement.addFormattedString("WITH v(k,c) AS (VALUES %s) UPDATE %s SET %s=v.c FROM v WHERE %s.%s=v.k",
                                   values_.c_str(), table_, column_, table_, keyColumn_);
    rows_ = 0;
    values_.clear();
    return ExecSql(statement);
  }

 private:
  const char *table_, *keyColumn_, *column_;
  std::string values_;
  int rows_ = 0;
};

}  // namespace

bool RecodeColumnStrings(const char *table, const char *keyColumn, const char *column) {
  String clear;
  switch (DbSyntax) {
    case DB_SYNTAX_MSSQL:
      clear.addFormattedString("UPDATE %s SET %s='' WHERE CAST(%s AS nvarchar(4000))=N'#00'", table, column,
                               column);
      break;
    case DB_SYNTAX_ORACLE:
      clear.addFormattedString("UPDATE %s SET %s='' WHERE to_char(%s)='#00'", table, column, column);
      break;
    default: clear.addFormattedString("UPDATE %s SET %s='' WHERE %s='#00'", table, column, column); break;
  }
  if (!ExecSql(clear)) return false;

  UpdateWriter writer(table, keyColumn, column);
  ProgressLine progress(std::string("Recoding ") + table + "." + column, "rows");
  bool hasLast = false;
  int64_t lastKey = 0;
  for (;;) {
    bool paged;
    std::string query = PageQuery(table, keyColumn, column, hasLast, lastKey, &paged);
    Result page(SelectSql(query.c_str()));
    if (page == nullptr) return false;
    int rows = DBGetNumRows(page.get());
    for (int row = 0; row < rows; row++) {
      int64_t key = DBGetFieldInt64(page.get(), row, 0);
      char *stored = DBGetField(page.get(), row, 1, nullptr, 0);
      std::string text(stored);
      free(stored);
      if (text.find('#') == std::string::npos) continue;
      DecodeSQLString(text.data());
      text.resize(strlen(text.c_str()));
      if (!writer.add(key, DBPrepareString(DbHandle, text.c_str(), -1))) return false;
      progress.advance();
    }
    if (rows > 0) {
      hasLast = true;
      lastKey = DBGetFieldInt64(page.get(), rows - 1, 0);
    }
    // Decoded texts can hold "#" again; the next page starts after the
    // last key, so none of them is read (and decoded) a second time.
    if (!writer.flush()) return false;
    if (!paged || rows < kPageRows) return true;
  }
}
