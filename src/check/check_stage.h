// The machinery every check shares: the defect counters, the progress
// line with its status mark, the per-defect question, and the per-row
// lookups.
#pragma once

#include <cstdint>
#include <string>

#include "external/db/db.h"

extern int ErrorsFound;
extern int ErrorsFixed;

// Prints the progress line; the mark is appended by EndCheckStage.
void BeginCheckStage(const char *title);
void EndCheckStage();

// Counts one defect and asks the operator whether to repair it.
bool ReportDefect(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Runs a repair statement built from format, with the trace echo and the
// error report of every statement.
bool ExecRepair(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The current time, in seconds since the Unix epoch.
uint64_t CurrentTime();

// A query that a check runs once per row with one value in it: an id
// ("%d") or a quoted text ("'%s'"). It is prepared once and executed
// with the value bound, while the trace echo and the error report still
// show the statement with the value written in. When the engine refuses
// to prepare it, every row falls back to the plain statement, so the
// failure is reported per row as any query's would be.
class RowLookup {
 public:
  explicit RowLookup(const char *format);
  ~RowLookup();
  RowLookup(const RowLookup &) = delete;
  RowLookup &operator=(const RowLookup &) = delete;

  // The result for the caller to release with DBFreeResult, or null after
  // the error report.
  db_result_t select(int32_t id);
  db_result_t select(const char *text);

  // Whether the lookup found a row; a failed query counts as none.
  bool found(int32_t id);

 private:
  db_result_t run(const char *value);
  std::string prefix_, suffix_;  // the written text around the value
  std::string prepared_;
  db_statement_t statement_ = nullptr;
  bool unpreparable_ = false;
};

// Releases a buffered result when it goes out of scope.
class ResultHolder {
 public:
  explicit ResultHolder(db_result_t result) : result_(result) {}
  ~ResultHolder() {
    if (result_ != nullptr) DBFreeResult(result_);
  }
  ResultHolder(const ResultHolder &) = delete;
  ResultHolder &operator=(const ResultHolder &) = delete;
  db_result_t get() const { return result_; }
  explicit operator bool() const { return result_ != nullptr; }
  int rows() const { return result_ != nullptr ? DBGetNumRows(result_) : 0; }

 private:
  db_result_t result_;
};

// Ids are unsigned 32-bit in the database and written as signed numbers.
inline int32_t IdAt(db_result_t result, int row, int column) {
  return static_cast<int32_t>(DBGetFieldULong(result, row, column));
}

// Object names are shown cut to 63 characters, however many bytes each
// takes, so that a name in a non-Latin script is not cut short.
constexpr int kNameLength = 63;
constexpr size_t kNameBufferSize = kNameLength * 4 + 1;
void ReadObjectName(db_result_t result, int row, int column, char *name /* kNameBufferSize */);

// The name of an object, or "<unknown>" when it has no properties row or
// the lookup fails.
void LookupObjectName(RowLookup &lookup, int32_t id, char *name /* kNameBufferSize */);

// The checks, in the order the check command runs them.
void CheckZones();
void CheckNodes();
void CheckComponents(const char *word, const char *table);
void CheckClusters();
void CheckTemplateNodeMapping();
void CheckObjectProperties();
void CheckEventPolicy();
void CheckDataTimestamps();

// Creates the properties row of an object that has none, under the given
// name; used by the zone, node and component checks.
bool CreateLostProperties(int32_t id, const char *name);
