#include "session/statement_watch.h"

#include <cassert>

namespace {
StatementWatch *Armed = nullptr;
}  // namespace

StatementWatch *ArmedStatementWatch() { return Armed; }

StatementWatchArming::StatementWatchArming(StatementWatch &watch) {
  assert(Armed == nullptr);
  Armed = &watch;
}

StatementWatchArming::~StatementWatchArming() { Armed = nullptr; }

RepeatableStatements::RepeatableStatements(const char *label) {
  if (Armed != nullptr) applied_ = Armed->beginRepeatableGroup(label);
}

RepeatableStatements::~RepeatableStatements() {
  if (Armed != nullptr) Armed->endRepeatableGroup();
}
