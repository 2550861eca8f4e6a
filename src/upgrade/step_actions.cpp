#include "upgrade/step_actions.h"

#include "frontend/batch.h"
#include "frontend/globals.h"
#include "frontend/sql_exec.h"
#include "upgrade/helpers.h"

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};

bool RunAction(const step::Action &action) {
  return std::visit(
      Overloaded{
          [](const step::Batch &a) { return ExecSqlBatch(a.text); },
          [](const step::CreateTable &a) { return CreateTableSql(a.statement); },
          [](const step::Statement &a) { return ExecSql(a.text); },
          [](const step::ConfigVariable &a) {
            return AddConfigVariable(a.name, a.value, a.isVisible, a.needServerRestart, false) || a.optional;
          },
          [](const step::EventTemplate &a) {
            return AddEventTemplate(a.code, a.name, a.severity, 1, a.message, a.description);
          },
          [](const step::NullableColumn &a) { return MakeColumnNullable(a.table, a.column, a.type); },
          [](const step::RecodedColumn &a) { return RecodeColumnStrings(a.table, a.keyColumn, a.column); },
          [](const step::Conversion &a) { return a.run(); },
      },
      action);
}

}  // namespace

int RunStepActions(std::span<const step::Action> actions, int version) {
  for (const step::Action &action : actions)
    if (!RunAction(action) && !IgnoreSqlErrors) return 0;
  return SetSchemaVersion(version) ? 1 : 0;
}
