#include "session/table_loop.h"

#include <optional>

#include "runtime/terminal.h"
#include "session/globals.h"
#include "session/progress_line.h"
#include "session/sql_exec.h"
#include "session/statement_watch.h"

namespace {

// Four connections took the schema statements of 1,000 tables 3.4 to 8
// times faster than one on a 2-core machine; more gained little.
constexpr int kSpreadWidth = 4;
// Tables whose lines and reports are printed together.
constexpr size_t kSpreadChunk = 256;

// Sends the lanes over the main connection, one statement after the
// other, where the other connections are gone: the lanes end as they
// would have there.
void SendLanesHere(std::vector<DbSpreadLane> &lanes) {
  for (DbSpreadLane &lane : lanes)
    for (DbSpreadQuery &query : lane) {
      char errorText[DBDRV_MAX_ERROR_TEXT];
      query.sent = true;
      query.ok = DBQueryEx(DbHandle, query.text.c_str(), errorText);
      if (query.ok) continue;
      query.error = errorText;
      query.errorCode = DBGetErrorCode(DbHandle, errorText);
      if (query.endsLane) break;
    }
}

// The connections a spread loop may use now: 0 where it sends its
// statements itself.
int SpreadWidth() {
  if (DbSyntax != DB_SYNTAX_MYSQL) return 0;
  std::vector<DbSpreadLane> none;
  return DBSpreadQueries(DbHandle, none, kSpreadWidth) ? kSpreadWidth : 0;
}

}  // namespace

bool RunTableLoop(const std::function<bool(TableLoop &)> &body, TableLoopForm form) {
  std::optional<RepeatableStatements> group;
  if (form.spread) {
    group.emplace("tables");
    if (group->applied()) return true;
    if (const int width = SpreadWidth(); width > 0) {
      TableLoop collecting(TableLoop::Mode::kCollecting, form.progress);
      const bool ok = body(collecting);
      return collecting.sendCollected(width) && ok;
    }
  }
  if (form.careful || !DBBeginUnisolatedRun(DbHandle)) {
    TableLoop loop(TableLoop::Mode::kCareful, form.progress);
    const bool ok = body(loop);
    loop.finish();
    return ok;
  }
  TableLoop fast(TableLoop::Mode::kUnisolated, form.progress);
  const bool ok = body(fast);
  if (!fast.over_) {
    fast.finish();
    if (DBEndUnisolatedRun(DbHandle, true)) return ok;
    ReportSqlError(DBGetLastError(DbHandle), "RELEASE SAVEPOINT");
    return false;
  }
  if (!DBEndUnisolatedRun(DbHandle, false)) {
    ReportSqlError(DBGetLastError(DbHandle), "ROLLBACK TO SAVEPOINT");
    return false;
  }
  if (!fast.mustRerun_) return false;
  TableLoop loop(TableLoop::Mode::kCareful, form.progress);
  loop.alreadyShown_ = fast.started_;
  const bool rerunOk = body(loop);
  loop.finish();
  return rerunOk;
}

// The progress counts a table once its line is out and its statements
// are sent: at the next table, or at the end.
void TableLoop::showTable(const std::string &line) {
  if (started_++ < alreadyShown_) return;
  if (progress_ != nullptr && started_ > alreadyShown_ + 1) progress_->advance();
  WriteToTerminalEx("%s\n", line.c_str());
  if (progress_ != nullptr) progress_->redraw();
}

void TableLoop::finish() {
  if (progress_ != nullptr && started_ > alreadyShown_) progress_->advance();
}

void TableLoop::startTable(std::string line) {
  if (mode_ == Mode::kCollecting)
    collected_.push_back({std::move(line), {}});
  else
    showTable(line);
}

bool TableLoop::exec(const char *statement, OnFailure rule) {
  const QueryEcho echo = rule == OnFailure::kSilent ? QueryEcho::kSilent : QueryEcho::kTraced;
  switch (mode_) {
    case Mode::kCollecting:
      if (collected_.empty()) collected_.push_back({});
      collected_.back().statements.emplace_back(statement, rule);
      return true;
    case Mode::kCareful: return SendSql(statement, echo) || rule != OnFailure::kEnds;
    case Mode::kUnisolated: break;
  }
  std::string failure;
  if (SendSql(statement, echo, &failure)) return true;
  over_ = true;
  // Ended here in the careful form too, with the same report.
  if (rule == OnFailure::kEnds)
    ReportSqlError(failure.c_str(), statement);
  else
    mustRerun_ = true;
  return false;
}

Result TableLoop::select(const char *query) {
  if (mode_ != Mode::kUnisolated) return Result(SelectSql(query));
  std::string failure;
  Result result(SelectSql(query, &failure));
  if (result == nullptr) {
    over_ = true;
    mustRerun_ = true;
  }
  return result;
}

bool TableLoop::sendCollected(int width) {
  for (size_t first = 0; first < collected_.size(); first += kSpreadChunk)
    if (!sendChunk(first, std::min(collected_.size(), first + kSpreadChunk), width)) return false;
  finish();
  return true;
}

bool TableLoop::sendChunk(size_t first, size_t end, int width) {
  if (TransactionRolledBackByServer()) return false;
  StatementWatch *watch = ArmedStatementWatch();
  // The watch hears of every statement before any is sent (the journal
  // writes its row), as it would on the one connection.
  std::vector<std::vector<StatementWatch::Verdict>> verdicts(end - first);
  std::vector<DbSpreadLane> lanes(end - first);
  for (size_t t = first; t < end; t++)
    for (const auto &[statement, rule] : collected_[t].statements) {
      const auto verdict =
          watch != nullptr ? watch->beforeSending(statement.c_str()) : StatementWatch::Verdict::kSend;
      verdicts[t - first].push_back(verdict);
      if (verdict != StatementWatch::Verdict::kSend) continue;
      DbSpreadQuery query;
      query.text = statement;
      query.endsLane = rule == OnFailure::kEnds;
      lanes[t - first].push_back(std::move(query));
    }
  // What the main connection wrote (the journal's row among it) is made
  // final before the other connections start, as a schema statement's
  // own commit would make it, and the main connection keeps no lock that
  // their statements would wait for.
  TraceSql("COMMIT");
  char errorText[DBDRV_MAX_ERROR_TEXT];
  if (!DBQueryEx(DbHandle, "COMMIT", errorText)) {
    ReportSqlError(errorText, "COMMIT");
    return false;
  }
  // Nothing of the chunk was sent when the spread fails (the other
  // connections could not follow the main one's database): it goes over
  // the main connection, so that no table is left out.
  if (!DBSpreadQueries(DbHandle, lanes, width)) SendLanesHere(lanes);
  for (size_t t = first; t < end; t++) {
    showTable(collected_[t].line);
    size_t sent = 0;
    for (size_t s = 0; s < collected_[t].statements.size(); s++) {
      const auto &[statement, rule] = collected_[t].statements[s];
      const StatementWatch::Verdict verdict = verdicts[t - first][s];
      if (verdict == StatementWatch::Verdict::kSkip) continue;
      if (verdict == StatementWatch::Verdict::kRefuse) {
        if (rule == OnFailure::kEnds) return false;
        continue;
      }
      const DbSpreadQuery &query = lanes[t - first][sent++];
      if (!query.sent) break;  // after a failure that ended the loop
      if (rule != OnFailure::kSilent) TraceSql(statement.c_str());
      bool ok = query.ok;
      if (watch != nullptr && watch->afterSending(statement.c_str(), ok, query.errorCode)) ok = true;
      if (ok) continue;
      if (rule != OnFailure::kSilent) ReportSqlError(query.error.c_str(), statement.c_str());
      if (rule == OnFailure::kEnds) return false;
    }
  }
  return true;
}
