// The machinery every check shares: the defect counters, the progress
// line with its status mark and the per-defect question.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "db/db.h"

extern int ErrorsFound;
extern int ErrorsFixed;

// Prints the progress line; the mark is appended by EndCheckStage.
void BeginCheckStage(const char *title);
void EndCheckStage();

// Counts one defect and asks the operator whether to repair it.
bool ReportDefect(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Counts one defect and asks question; on yes runs repair, and counts the
// defect fixed when repair returns true. Returns whether it was fixed.
bool OfferRepair(const std::string &question, const std::function<bool()> &repair);
// The text of a question, formatted as printf formats.
std::string Question(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Runs a repair statement built from format, with the trace echo and the
// error report of every statement.
bool ExecRepair(const char *format, ...) __attribute__((format(printf, 1, 2)));
// How many repair statements have been sent, failed ones included: what
// was read before the count last changed still holds.
int RepairsSent();

// The current time, in seconds since the Unix epoch.
uint64_t CurrentTime();

// Ids are unsigned 32-bit in the database and written as signed numbers.
inline int32_t IdAt(db_result_t result, int row, int column) {
  return static_cast<int32_t>(DBGetFieldULong(result, row, column));
}

// Object names are shown cut to 63 characters, however many bytes each
// takes, so that a name in a non-Latin script is not cut short.
constexpr int kNameLength = 63;
constexpr size_t kNameBufferSize = kNameLength * 4 + 1;
void ReadObjectName(db_result_t result, int row, int column, char *name /* kNameBufferSize */);

// The checks, in the order the check command runs them.
void CheckZones();
void CheckNodes();
void CheckComponents(const char *word, const char *table);
void CheckClusters();
void CheckTemplateNodeMapping();
void CheckObjectProperties();
void CheckEventPolicy();
// Counts each node's collected data over counter (DbHandle, or a
// connection of its own outside the check's transaction).
void CheckDataTimestamps(db_handle_t counter);

// Creates the properties row of an object that has none, under the given
// name; used by the zone, node and component checks.
bool CreateLostProperties(int32_t id, const char *name);
