// A step written as data: its actions in order, run by one rule (stop at
// the first failed action unless IgnoreSqlErrors is set), then the write
// of the new version.
#pragma once

#include <span>
#include <variant>

namespace step {

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
// Inserted only when absent. A variable the server can do without may
// fail to insert without failing the step (the failure is reported).
struct ConfigVariable {
  const char *name;
  const char *value;
  int isVisible;
  int needServerRestart;
  bool optional = false;
};
// Added with flags 1; message and description are plain texts.
struct EventTemplate {
  int code;
  const char *name;
  int severity;
  const char *message;
  const char *description;
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
// Code for a data conversion; returns false when the step must end.
struct Conversion {
  bool (*run)();
};

using Action = std::variant<Batch, CreateTable, Statement, ConfigVariable, EventTemplate, NullableColumn,
                            RecodedColumn, Conversion>;

}  // namespace step

// Runs the actions and writes version last; the result of a step
// procedure (1 success, 0 failure).
int RunStepActions(std::span<const step::Action> actions, int version);
