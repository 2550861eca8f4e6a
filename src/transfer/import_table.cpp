// One table from the import file into the connected database.
//
// With -t every row is one INSERT statement, traced as it is sent. Else
// the rows go in bulk (COPY on PostgreSQL, multi-row INSERT on MySQL,
// prepared INSERT on SQLite); should that fail, the rows already loaded
// are deleted again and the rows are replayed one statement each, so
// that the row at fault is reported exactly as the statement would be.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "session/globals.h"
#include "session/sql_exec.h"
#include "transfer/import_steps.h"
#include "transfer/sqlite_file.h"
#include "transfer/table_progress.h"

namespace {

void ReportFileError(const std::string &query, const char *error) {
  printf("ERROR: SQL query \"%s\" on import file failed (%s)\n", query.c_str(), error);
}

// The rows of one table of the file, read one at a time. A NULL in a
// column of emptyIfNull reads as the empty text and is counted.
class FileRows {
 public:
  FileRows(sqlite3 *file, const char *table) : file_(file), table_(table) {
    query_ = std::string("SELECT * FROM ") + table;
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(file, query_.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
      ReportFileError(query_, sqlite3_errmsg(file));
      return;
    }
    stmt_.reset(raw);
    int n = sqlite3_column_count(raw);
    for (int c = 0; c < n; c++) names_.emplace_back(sqlite3_column_name(raw, c));
    values_.resize(static_cast<size_t>(n));
    lengths_.resize(static_cast<size_t>(n));
    emptyIfNull_.resize(static_cast<size_t>(n));
  }
  // False when the query could not start; that was reported.
  bool opened() const { return stmt_ != nullptr; }
  // The file's columns that hold NULL as the empty text.
  void setEmptyIfNull(const std::vector<std::string> &columns) {
    for (size_t c = 0; c < names_.size(); c++)
      for (const std::string &name : columns)
        if (strcasecmp(name.c_str(), names_[c].c_str()) == 0) emptyIfNull_[c] = true;
  }
  // False at the end, and after reporting a read error or a value that no
  // database would store unchanged (then failed() says so).
  bool next() {
    int rc = sqlite3_step(stmt_.get());
    if (rc != SQLITE_ROW) {
      if (rc != SQLITE_DONE) {
        ReportFileError(query_, sqlite3_errmsg(file_));
        failed_ = true;
      }
      return false;
    }
    row_++;
    for (size_t c = 0; c < values_.size(); c++) {
      int i = static_cast<int>(c);
      if (sqlite3_column_type(stmt_.get(), i) == SQLITE_NULL) {
        values_[c] = emptyIfNull_[c] ? "" : nullptr;
        lengths_[c] = 0;
        if (emptyIfNull_[c]) emptied_++;
        continue;
      }
      values_[c] = reinterpret_cast<const char *>(sqlite3_column_text(stmt_.get(), i));
      lengths_[c] = static_cast<size_t>(sqlite3_column_bytes(stmt_.get(), i));
      // PostgreSQL cannot hold it in a text at all, and every statement
      // text would end the value there: the rest would be lost unseen.
      if (memchr(values_[c], 0, lengths_[c]) != nullptr) {
        printf("ERROR: column %s of table %s in import file holds a value with a NUL byte (row %llu)\n",
               names_[c].c_str(), table_, static_cast<unsigned long long>(row_));
        failed_ = true;
        return false;
      }
    }
    return true;
  }
  bool failed() const { return failed_; }
  uint64_t emptied() const { return emptied_; }
  const std::string &query() const { return query_; }
  const std::vector<std::string> &names() const { return names_; }
  const char *const *values() const { return values_.data(); }
  const size_t *lengths() const { return lengths_.data(); }

 private:
  sqlite3 *file_;
  const char *table_;
  std::string query_;
  std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> stmt_;
  std::vector<std::string> names_;
  std::vector<const char *> values_;
  std::vector<size_t> lengths_;
  std::vector<bool> emptyIfNull_;
  uint64_t row_ = 0;
  uint64_t emptied_ = 0;
  bool failed_ = false;
};

struct BulkFree {
  void operator()(db_bulk_t bulk) const { DBBulkFree(bulk); }
};

enum class BulkOutcome { kDone, kFileFailed, kTargetFailed };

// The engine's verdict is not reported: the replay that follows a
// refused load names the row at fault instead.
BulkOutcome LoadInBulk(FileRows &rows, const char *target, TableProgress &progress) {
  std::vector<const char *> names;
  for (const std::string &n : rows.names()) names.push_back(n.c_str());
  std::unique_ptr<db_bulk_s, BulkFree> bulk(
      DBBulkBegin(DbHandle, target, names.data(), static_cast<int>(names.size()), nullptr));
  if (bulk == nullptr) return BulkOutcome::kTargetFailed;
  while (rows.next()) {
    if (!DBBulkAddRow(bulk.get(), rows.values(), rows.lengths(), nullptr)) return BulkOutcome::kTargetFailed;
    progress.row();
  }
  if (rows.failed()) return BulkOutcome::kFileFailed;
  return DBBulkFinish(bulk.get(), nullptr) ? BulkOutcome::kDone : BulkOutcome::kTargetFailed;
}

// One INSERT per row, each sent and reported like any statement.
bool LoadRowByRow(FileRows &rows, const char *target, TableProgress &progress) {
  std::string head = std::string("INSERT INTO ") + target + " (";
  for (size_t c = 0; c < rows.names().size(); c++) head += (c > 0 ? "," : "") + rows.names()[c];
  head += ") VALUES (";
  std::string statement;
  while (rows.next()) {
    statement = head;
    for (size_t c = 0; c < rows.names().size(); c++) {
      if (c > 0) statement += ',';
      const char *value = rows.values()[c];
      statement += value != nullptr ? DBPrepareString(DbHandle, value).str() : "NULL";
    }
    statement += ')';
    if (!ExecSql(statement.c_str())) {
      // What SQLite says when a row callback stops a query.
      ReportFileError(rows.query(), sqlite3_errstr(SQLITE_ABORT));
      return false;
    }
    progress.row();
  }
  return !rows.failed();
}

void Record(EmptiedNulls &emptied, const char *table, uint64_t count) {
  if (count > 0) emptied.emplace_back(table, count);
}

}  // namespace

bool LoadTable(sqlite3 *file, const char *table, const char *target, EmptiedNulls &emptied) {
  TableProgress progress("Importing", table);
  std::vector<std::string> emptyIfNull;
  if (!ReadNotNullTextColumns(target, emptyIfNull)) return false;
  if (!TraceMode) {
    BulkOutcome outcome;
    uint64_t count;
    {
      FileRows rows(file, table);
      if (!rows.opened()) return false;
      rows.setEmptyIfNull(emptyIfNull);
      outcome = LoadInBulk(rows, target, progress);
      count = rows.emptied();
    }
    if (outcome == BulkOutcome::kFileFailed) return false;
    if (outcome == BulkOutcome::kDone) {
      Record(emptied, table, count);
      progress.finish();
      return true;
    }
    // The table held none of the file's rows before this load.
    if (!ExecSql((std::string("DELETE FROM ") + target).c_str())) return false;
    progress.restart();
  }
  FileRows rows(file, table);
  if (!rows.opened()) return false;
  rows.setEmptyIfNull(emptyIfNull);
  if (!LoadRowByRow(rows, target, progress)) return false;
  Record(emptied, table, rows.emptied());
  progress.finish();
  return true;
}
