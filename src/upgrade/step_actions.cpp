// The step rule lives here and nowhere else: an action, or a statement of
// a conversion, that fails ends the step unless IgnoreSqlErrors is set,
// and the server rolling back the step's transaction ends it always.
#include "upgrade/step_actions.h"

#include <type_traits>

#include "session/ask.h"
#include "session/batch.h"
#include "session/globals.h"
#include "session/key_walk.h"
#include "session/sql_exec.h"
#include "upgrade/statement_journal.h"

namespace {

// What each action does: true when it succeeded.
bool Perform(const step::Batch &a) { return ExecSqlBatch(a.text, StepRule()); }
bool Perform(const step::CreateTable &a) { return CreateTableSql(a.statement); }
bool Perform(const step::Statement &a) { return ExecSql(a.text); }
bool Perform(const step::PerDialect &a) {
  const char *text = DialectText(a);
  // A forgotten dialect is caught by the table test; at run time it
  // sends nothing rather than a wrong statement.
  if (text == nullptr || *text == 0) return true;
  return a.batch ? ExecSqlBatch(text, StepRule()) : ExecSql(text);
}
bool Perform(const step::ConfigVariable &a) {
  return AddConfigVariable(a.name, a.value, a.isVisible, a.needServerRestart, false) || a.optional;
}
bool Perform(const step::EventTemplate &a) {
  return AddEventTemplate(a.code, a.name, a.severity, a.message, a.description,
                          a.form == step::TextForm::kStored);
}
bool Perform(const step::AddedColumn &a) {
  String batch;
  batch.addFormattedString("ALTER TABLE %s ADD %s %s\nUPDATE %s SET %s=%s\n<END>", a.table, a.column, a.type,
                           a.table, a.column, a.initialValue);
  return ExecSqlBatch(batch, StepRule());
}
// The lines go on past a failure under -X, as a batch's do.
bool Perform(const step::Part &a) {
  for (const step::Line &line : a.lines)
    if (!StepGoesOn(std::visit([](const auto &l) { return Perform(l); }, line))) return false;
  return true;
}
bool Perform(const step::NullableColumn &a) { return MakeColumnNullable(a.table, a.column, a.type); }
bool Perform(const step::RecodedColumn &a) { return RecodeColumnStrings(a.table, a.keyColumn, a.column); }
bool Perform(const step::Conversion &a) { return a.run(); }
bool Perform(const step::Question &a) {
  bool yes = AskYesNo("%s", a.text);
  NoteStepAnswer(yes);
  return RunActions(yes ? a.onYes : a.onNo);
}

// One part of the step, as the journal counts them. Returns false when
// the step must end.
template <class A>
bool RunPart(const A &action) {
  constexpr bool kIsQuestion = std::is_same_v<A, step::Question>;
  if (!EnterStepAction(kIsQuestion)) return true;
  const bool succeeded = Perform(action);
  bool ok = StepGoesOn(succeeded);
  if constexpr (std::is_same_v<A, step::Conversion>)
    if (action.endsStepAlways) ok = succeeded;
  ok = ok && !TransactionRolledBackByServer();
  LeaveStepAction(ok);
  // The part's end may commit, and the server may refuse that too.
  return ok && !TransactionRolledBackByServer();
}

template <class A>
bool RunParts(const A &action) {
  return RunPart(action);
}
bool RunParts(const step::PlainTextColumn &a) {
  return RunPart(step::NullableColumn{a.table, a.column, a.type}) &&
         RunPart(step::RecodedColumn{a.table, a.keyColumn, a.column});
}

}  // namespace

bool RunActions(std::span<const step::Action> actions) {
  for (const step::Action &action : actions)
    if (!std::visit([](const auto &a) { return RunParts(a); },
                    static_cast<const step::ActionVariant &>(action)))
      return false;
  return true;
}

const char *DialectText(const step::PerDialect &action) {
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL: return action.mysql;
    case DB_SYNTAX_PGSQL: return action.pgsql;
    case DB_SYNTAX_MSSQL: return action.mssql;
    case DB_SYNTAX_ORACLE: return action.oracle;
    case DB_SYNTAX_SQLITE: return action.sqlite;
    default: return action.other;
  }
}

// -X goes past a failed statement, never past the server rolling back
// the step's transaction.
bool StepGoesOn(bool succeeded) { return succeeded || (IgnoreSqlErrors && !TransactionRolledBackByServer()); }

bool StepSql(const char *statement) { return StepGoesOn(ExecSql(statement)); }

TableLoop::OnFailure StepRule() {
  return IgnoreSqlErrors ? TableLoop::OnFailure::kReported : TableLoop::OnFailure::kEnds;
}

Result StepSelect(const char *query, bool *goOn) {
  Result result(SelectSql(query));
  *goOn = StepGoesOn(result != nullptr);
  return result;
}

bool StepForEachRow(const char *columns, const char *table, const char *where,
                    const std::function<bool(db_result_t, int)> &visit, FailedRead failedRead) {
  bool goOn = true;
  const KeyWalk walk{
      .columns = columns, .from = table, .where = where == nullptr ? "" : std::string("(") + where + ")"};
  switch (ForEachRowByKey(walk, visit, [&goOn](const char *query) { return StepSelect(query, &goOn); })) {
    case WalkEnd::kLastRow: return true;
    case WalkEnd::kReadFailed: return goOn || failedRead == FailedRead::kGoesOn;
    case WalkEnd::kStopped: return false;
  }
  return false;
}
