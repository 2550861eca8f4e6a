#include "session/table_loop.h"

#include "session/globals.h"
#include "session/sql_exec.h"

bool RunTableLoop(const std::function<bool(TableLoop &)> &body, bool careful) {
  if (careful || !DBBeginUnisolatedRun(DbHandle)) {
    TableLoop loop(false);
    return body(loop);
  }
  TableLoop fast(true);
  const bool ok = body(fast);
  if (!fast.over_) {
    if (DBEndUnisolatedRun(DbHandle, true)) return ok;
    ReportSqlError(DBGetLastError(DbHandle), "RELEASE SAVEPOINT");
    return false;
  }
  if (!DBEndUnisolatedRun(DbHandle, false)) {
    ReportSqlError(DBGetLastError(DbHandle), "ROLLBACK TO SAVEPOINT");
    return false;
  }
  if (!fast.mustRerun_) return false;
  TableLoop loop(false);
  loop.alreadyPrinted_ = fast.printed_;
  return body(loop);
}

bool TableLoop::exec(const char *statement, OnFailure rule) {
  if (!fast_) {
    const bool ok = SendSql(statement, rule == OnFailure::kSilent ? QueryEcho::kSilent : QueryEcho::kTraced);
    return ok || rule != OnFailure::kEnds;
  }
  std::string failure;
  if (SendSql(statement, rule == OnFailure::kSilent ? QueryEcho::kSilent : QueryEcho::kTraced, &failure))
    return true;
  over_ = true;
  // Ended here in the careful form too, with the same report.
  if (rule == OnFailure::kEnds)
    ReportSqlError(failure.c_str(), statement);
  else
    mustRerun_ = true;
  return false;
}

Result TableLoop::select(const char *query) {
  if (!fast_) return Result(SelectSql(query));
  std::string failure;
  Result result(SelectSql(query, &failure));
  if (result == nullptr) {
    over_ = true;
    mustRerun_ = true;
  }
  return result;
}

bool TableLoop::printsLine() {
  if (printed_ < alreadyPrinted_) {
    printed_++;
    return false;
  }
  printed_++;
  return true;
}
