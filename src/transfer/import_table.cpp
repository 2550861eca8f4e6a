// One table from the import file into the connected database.
//
// With -t every row is one INSERT statement, traced as it is sent. Else
// the rows go in bulk (COPY on PostgreSQL, multi-row INSERT on MySQL,
// prepared INSERT on SQLite); should that fail, the table's transaction
// is rolled back and the rows are replayed one statement each, so that
// the row at fault is reported exactly as the statement would be.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "frontend/globals.h"
#include "frontend/sql_exec.h"
#include "transfer/import_steps.h"
#include "transfer/sqlite_file.h"
#include "transfer/table_progress.h"

namespace {

// The rows of one table of the file, read one at a time.
class FileRows {
 public:
  FileRows(sqlite3 *file, const std::string &query) : file_(file) {
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(file, query.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
      error_ = sqlite3_errmsg(file);
      return;
    }
    stmt_.reset(raw);
    int n = sqlite3_column_count(raw);
    for (int c = 0; c < n; c++) names_.emplace_back(sqlite3_column_name(raw, c));
    values_.resize(static_cast<size_t>(n));
    lengths_.resize(static_cast<size_t>(n));
  }
  bool opened() const { return stmt_ != nullptr; }
  // False at the end and on a read error (then error() is not empty).
  bool next() {
    int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) {
      for (size_t c = 0; c < values_.size(); c++) {
        int i = static_cast<int>(c);
        if (sqlite3_column_type(stmt_.get(), i) == SQLITE_NULL) {
          values_[c] = nullptr;
          lengths_[c] = 0;
        } else {
          values_[c] = reinterpret_cast<const char *>(sqlite3_column_text(stmt_.get(), i));
          lengths_[c] = static_cast<size_t>(sqlite3_column_bytes(stmt_.get(), i));
        }
      }
      return true;
    }
    if (rc != SQLITE_DONE) error_ = sqlite3_errmsg(file_);
    return false;
  }
  const std::string &error() const { return error_; }
  const std::vector<std::string> &names() const { return names_; }
  const char *const *values() const { return values_.data(); }
  const size_t *lengths() const { return lengths_.data(); }

 private:
  sqlite3 *file_;
  std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> stmt_;
  std::string error_;
  std::vector<std::string> names_;
  std::vector<const char *> values_;
  std::vector<size_t> lengths_;
};

struct BulkFree {
  void operator()(db_bulk_t bulk) const { DBBulkFree(bulk); }
};

void ReportFileError(const std::string &query, const char *error) {
  printf("ERROR: SQL query \"%s\" on import file failed (%s)\n", query.c_str(), error);
}

enum class BulkOutcome { kDone, kFileFailed, kTargetFailed };

BulkOutcome LoadInBulk(sqlite3 *file, const std::string &query, const char *table, TableProgress &progress) {
  FileRows rows(file, query);
  if (!rows.opened()) {
    ReportFileError(query, rows.error().c_str());
    return BulkOutcome::kFileFailed;
  }
  std::vector<const char *> names;
  for (const std::string &n : rows.names()) names.push_back(n.c_str());
  std::unique_ptr<db_bulk_s, BulkFree> bulk(
      DBBulkBegin(DbHandle, table, names.data(), static_cast<int>(names.size()), nullptr));
  if (bulk == nullptr) return BulkOutcome::kTargetFailed;
  while (rows.next()) {
    if (!DBBulkAddRow(bulk.get(), rows.values(), rows.lengths(), nullptr)) return BulkOutcome::kTargetFailed;
    progress.row();
  }
  if (!rows.error().empty()) {
    ReportFileError(query, rows.error().c_str());
    return BulkOutcome::kFileFailed;
  }
  return DBBulkFinish(bulk.get(), nullptr) ? BulkOutcome::kDone : BulkOutcome::kTargetFailed;
}

// One INSERT per row, each sent and reported like any statement.
bool LoadRowByRow(sqlite3 *file, const std::string &query, const char *table, TableProgress &progress) {
  FileRows rows(file, query);
  if (!rows.opened()) {
    ReportFileError(query, rows.error().c_str());
    return false;
  }
  std::string head = std::string("INSERT INTO ") + table + " (";
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
      ReportFileError(query, sqlite3_errstr(SQLITE_ABORT));
      return false;
    }
    progress.row();
  }
  if (!rows.error().empty()) {
    ReportFileError(query, rows.error().c_str());
    return false;
  }
  return true;
}

bool CopyTable(sqlite3 *file, const char *table, TableProgress &progress) {
  const std::string query = std::string("SELECT * FROM ") + table;
  if (!TraceMode) {
    switch (LoadInBulk(file, query, table, progress)) {
      case BulkOutcome::kDone: return true;
      case BulkOutcome::kFileFailed: return false;
      case BulkOutcome::kTargetFailed: break;
    }
    DBRollback(DbHandle);
    if (!DBBegin(DbHandle)) {
      printf("ERROR: unable to start transaction in target database\n");
      return false;
    }
    progress.restart();
  }
  return LoadRowByRow(file, query, table, progress);
}

}  // namespace

bool ImportTableInTransaction(sqlite3 *file, const char *table) {
  TableProgress progress("Importing", table);
  if (!DBBegin(DbHandle)) {
    printf("ERROR: unable to start transaction in target database\n");
    return false;
  }
  if (!CopyTable(file, table, progress)) {
    DBRollback(DbHandle);
    return false;
  }
  if (DBCommit(DbHandle)) return true;
  printf("ERROR: cannot commit transaction\n");
  return false;
}
