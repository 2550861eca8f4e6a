// The step rule lives here and nowhere else: an action, or a statement of
// a conversion, that fails ends the step unless IgnoreSqlErrors is set,
// and the server rolling back the step's transaction ends it always.
#include "upgrade/step_actions.h"

#include "session/ask.h"
#include "session/batch.h"
#include "session/globals.h"
#include "session/key_walk.h"
#include "session/sql_exec.h"
#include "upgrade/statement_journal.h"

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

bool RunDialectText(const step::PerDialect &a) {
  const char *text = DialectText(a);
  // A forgotten dialect is caught by the table test; at run time it
  // sends nothing rather than a wrong statement.
  if (text == nullptr || *text == 0) return true;
  return a.batch ? ExecSqlBatch(text, StepRule()) : ExecSql(text);
}

bool RunAction(const step::Action &action) {
  return std::visit(
      Overloaded{
          [](const step::Batch &a) { return ExecSqlBatch(a.text, StepRule()); },
          [](const step::CreateTable &a) { return CreateTableSql(a.statement); },
          [](const step::Statement &a) { return ExecSql(a.text); },
          [](const step::PerDialect &a) { return RunDialectText(a); },
          [](const step::ConfigVariable &a) {
            return AddConfigVariable(a.name, a.value, a.isVisible, a.needServerRestart, false) || a.optional;
          },
          [](const step::EventTemplate &a) {
            return AddEventTemplate(a.code, a.name, a.severity, 1, a.message, a.description);
          },
          [](const step::NullableColumn &a) { return MakeColumnNullable(a.table, a.column, a.type); },
          [](const step::RecodedColumn &a) { return RecodeColumnStrings(a.table, a.keyColumn, a.column); },
          [](const step::Conversion &a) { return a.run(); },
          [](const step::Question &a) {
            bool yes = AskYesNo("%s", a.text);
            NoteStepAnswer(yes);
            return RunActions(yes ? a.onYes : a.onNo);
          },
      },
      static_cast<const step::ActionVariant &>(action));
}

}  // namespace

bool RunActions(std::span<const step::Action> actions) {
  for (const step::Action &action : actions) {
    if (!EnterStepAction(std::holds_alternative<step::Question>(action))) continue;
    const auto *conversion = std::get_if<step::Conversion>(&action);
    const bool succeeded = RunAction(action);
    bool ok = (conversion != nullptr && conversion->endsStepAlways ? succeeded : StepGoesOn(succeeded)) &&
              !TransactionRolledBackByServer();
    LeaveStepAction(ok);
    // The action's end may commit, and the server may refuse that too.
    if (!ok || TransactionRolledBackByServer()) return false;
  }
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
