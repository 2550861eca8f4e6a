// A step written as data: its actions in order, run by one rule (stop at
// the first failed action unless IgnoreSqlErrors is set), then the write
// of the new version.
#pragma once

#include <functional>
#include <span>
#include <variant>

#include "session/table_loop.h"
#include "upgrade/helpers.h"

namespace step {

struct Action;

// A batch text: statements one per line, ending with the "<END>" line.
struct Batch {
  const char *text;
};
struct CreateTable {
  const char *statement;
};
struct Statement {
  const char *text;
};
// One text per dialect, chosen by DbSyntax; "" means deliberately
// nothing on that dialect, and `other` serves every code without a field
// of its own. A null field is a dialect somebody forgot: the table test
// finds it. Batch says how the chosen text runs.
struct PerDialect {
  bool batch = false;
  const char *mysql = nullptr;
  const char *pgsql = nullptr;
  const char *mssql = nullptr;
  const char *oracle = nullptr;
  const char *sqlite = nullptr;
  const char *other = nullptr;
};
// Inserted only when absent. A variable the server can do without may
// fail to insert without failing the step (the failure is reported).
struct ConfigVariable {
  const char *name;
  const char *value;
  int isVisible;
  int needServerRestart;
  bool optional = false;
};
// How the texts of an event template are written: plain, encoded on the
// way, or in the stored (escaped) form, sent as written. The oldest
// templates were stored with '%' and '"' as they are, which encoding
// would change.
enum class TextForm { kPlain, kStored };
// Added with flags 1.
struct EventTemplate {
  int code;
  const char *name;
  int severity;
  const char *message;
  const char *description;
  TextForm form = TextForm::kPlain;
};
// "ALTER TABLE table ADD column type", then "UPDATE table SET
// column=initialValue", the value an SQL expression as written ("''",
// "0", another column); sent as the two lines of a batch.
struct AddedColumn {
  const char *table;
  const char *column;
  const char *type;
  const char *initialValue;
};
// Fixed statements sent as one part of the step, as the lines of one
// batch are; see RunActions.
using Line = std::variant<Batch, Statement, EventTemplate, AddedColumn>;
struct Part {
  std::span<const Line> lines;
};
struct NullableColumn {
  const char *table;
  const char *column;
  const char *type;
};
struct RecodedColumn {
  const char *table;
  const char *keyColumn;
  const char *column;
};
// A text column moved to plain storage: made nullable, then recoded (the
// recoding writes '' for an empty text, which Oracle stores as NULL).
struct PlainTextColumn {
  const char *table;
  const char *keyColumn;
  const char *column;
  const char *type;
};
// Code for a data conversion; returns false when the step must end. It
// runs its statements with StepSql/StepSelect, which apply the step rule.
// A conversion whose failure leaves the later actions storing something
// untrue (a template promising indexes no table got) sets
// endsStepAlways: its false then ends the step under IgnoreSqlErrors
// too, so it returns false only where it must.
struct Conversion {
  bool (*run)();
  bool endsStepAlways = false;
};
// Asks the operator (AskYesNo); the actions of the answer run under the
// same rule as the step's own. No is not a failure.
struct Question {
  const char *text;
  std::span<const Action> onYes;
  std::span<const Action> onNo = {};
};

using ActionVariant =
    std::variant<Batch, CreateTable, Statement, PerDialect, ConfigVariable, EventTemplate, AddedColumn, Part,
                 NullableColumn, RecodedColumn, PlainTextColumn, Conversion, Question>;
struct Action : ActionVariant {
  using ActionVariant::ActionVariant;
};

}  // namespace step

// Runs the actions by the step rule, without the version write. Returns
// false when an action failed and IgnoreSqlErrors is not set.
//
// Where the journal serves (statement_journal.h) each action is one part
// of the step, except that a Part of several lines is one and a
// PlainTextColumn two (its relaxing and its recoding). A journal row left
// by an interrupted run names its part by number, so the parts stay as
// the steps have always counted them.
bool RunActions(std::span<const step::Action> actions);

// The text of a PerDialect action for the current DbSyntax; null when the
// action forgot that dialect.
const char *DialectText(const step::PerDialect &action);

// The step rule for a routine of a conversion that reports its own
// failure: true when the conversion may go on (the routine succeeded, or
// failed under IgnoreSqlErrors and the server did not roll the step
// back), false when the step must end.
bool StepGoesOn(bool succeeded);

// What a conversion does with a failed statement under the step rule:
// true when the conversion may go on (the statement succeeded, or failed
// under IgnoreSqlErrors), false when the step must end. The failure has
// been reported either way.
bool StepSql(const char *statement);

// The step rule for a statement of a table loop (session/table_loop.h):
// its failure ends the step unless IgnoreSqlErrors is set.
TableLoop::OnFailure StepRule();

// The read query of a conversion. Returns the result, or null when the
// query failed (reported); then *goOn says whether the step goes on
// without this conversion (IgnoreSqlErrors) or must end.
Result StepSelect(const char *query, bool *goOn);

// What a failed read of a block of StepForEachRow means for the step: the
// step rule, or nothing (the walk ends there and the step goes on). The
// failure is reported either way.
enum class FailedRead { kStepRule, kGoesOn };

// Calls visit(block, row) for every row of "SELECT columns FROM table
// [WHERE where]" in the order of the first column, an integer key unique
// within the selection, a block at a time (session/key_walk.h). where may
// be null. Returns false when the step must end: a read failed and
// failedRead says so, or visit returned false.
bool StepForEachRow(const char *columns, const char *table, const char *where,
                    const std::function<bool(db_result_t, int)> &visit,
                    FailedRead failedRead = FailedRead::kStepRule);
