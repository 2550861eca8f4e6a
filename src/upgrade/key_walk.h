// Conversions that visit every row of a table that grows with the
// network (nodes, items, objects) read it a block at a time in key
// order, so that an upgrade's memory does not grow with the database.
#pragma once

#include <functional>

#include "db/db.h"

// What a failed read of a block means for the step: the step rule (it
// ends the step unless IgnoreSqlErrors is set), or nothing (the walk ends
// there and the step goes on). The failure is reported either way.
enum class FailedRead { kStepRule, kGoesOn };

// Calls visit(block, row) for every row of "SELECT columns FROM table
// [WHERE where]" in the order of the first column, which must be an
// integer key unique within the selection. where may be null. Returns
// false when the step must end: a read failed and failedRead says so, or
// visit returned false.
bool ForEachRowByKey(const char *columns, const char *table, const char *where,
                     const std::function<bool(db_result_t, int)> &visit,
                     FailedRead failedRead = FailedRead::kStepRule);
