// A connection that passes everything to a real one and makes one chosen
// statement fail, as if the engine had refused it, or lets the engine
// apply it and then acts as a connection that is gone: the failure
// injection of the upgrade tests. Only statements inside a transaction
// count, from its BEGIN on; BEGIN, COMMIT and ROLLBACK themselves do not.
// A commit can be turned into a rollback, so that a step can be tried on
// a database without changing it.
#pragma once

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/db.h"
#include "db/db_driver.h"

namespace tvtest {

struct FaultPlan {
  // The statement of the transaction to fail (1 for the first); 0 fails
  // none.
  int failAt = 0;
  // Fails the first statement of the transaction it holds true for, when
  // set.
  std::function<bool(const std::string &)> failWhen;
  // The chosen statement reaches the engine, and from then on every call
  // fails without reaching it, COMMIT and ROLLBACK too: the tool killed
  // just after the engine applied the statement. The caller then rolls
  // back the inner connection, as the server does for a session that
  // dies.
  bool diesAfter = false;
  // COMMIT rolls back instead (and succeeds).
  bool commitRollsBack = false;
  // The chosen statement fails as a commit that the server refuses with a
  // rollback of the whole transaction (a cluster's failed certification,
  // reported as a deadlock): what the transaction held is rolled back and
  // the failure ends the transaction. Chosen at a schema statement, it is
  // the commit that the statement makes first that fails.
  bool abortsTransaction = false;
  // Called just before COMMIT, while the transaction still holds what it
  // took (locks, for one).
  std::function<void()> beforeCommit;

  // What happened, for the test to read.
  std::vector<std::string> statements;  // of the last transaction
  std::string failed;                   // the statement made to fail
  int commits = 0;
  int rollbacks = 0;
};

namespace failing_db_detail {

// Copies a buffered result of the inner connection into the form the
// access layer expects.
inline bool CopyResult(db_result_t from, DbResultData &to) {
  if (from == nullptr) return false;
  to.rows = DBGetNumRows(from);
  to.columns = DBGetColumnCount(from);
  for (int row = 0; row < to.rows; row++)
    for (int column = 0; column < to.columns; column++) {
      if (DBIsFieldNull(from, row, column)) {
        to.addCell(nullptr, 0);
        continue;
      }
      char *text = DBGetField(from, row, column, nullptr, 0);
      to.addCell(text, strlen(text));
      free(text);
    }
  DBFreeResult(from);
  return true;
}

class Cursor final : public DbCursor {
 public:
  explicit Cursor(db_async_result_t inner) : inner_(inner) {}
  ~Cursor() override { DBFreeAsyncResult(inner_); }
  bool fetch(std::string &error) override {
    if (DBFetch(inner_)) return true;
    if (const char *e = DBGetAsyncError(inner_)) error = e;
    return false;
  }
  int columnCount() override { return DBGetColumnCountAsync(inner_); }
  const char *columnName(int column) override {
    name_ = DBGetColumnNameAsync(inner_, column, nameBuffer_, sizeof(nameBuffer_));
    return name_.c_str();
  }
  const char *value(int column, size_t *length) override {
    return DBGetFieldAsyncData(inner_, column, length);
  }
  bool integer(int column, int64_t *value) override { return DBGetFieldAsyncInteger(inner_, column, value); }

 private:
  db_async_result_t inner_;
  char nameBuffer_[256];
  std::string name_;
};

class FailingConnection;

class Statement final : public DbStatement {
 public:
  Statement(FailingConnection &conn, db_statement_t inner, std::string text)
      : conn_(conn), inner_(inner), text_(std::move(text)) {}
  ~Statement() override { DBFreeStatement(inner_); }
  bool bind(int pos, const char *value, size_t length) override { return DBBind(inner_, pos, value, length); }
  bool execute(std::string &error) override;
  bool select(DbResultData &result, std::string &error) override;

 private:
  FailingConnection &conn_;
  db_statement_t inner_;
  std::string text_;
};

class FailingConnection final : public DbConnection {
 public:
  FailingConnection(db_handle_t inner, std::shared_ptr<FaultPlan> plan)
      : inner_(inner), plan_(std::move(plan)) {}

  // True when the statement may go to the engine; false (with the error
  // set) when it is the one to fail.
  bool pass(const char *statement, std::string &error) {
    failureCode_ = 0;
    if (!alive(error)) return false;
    if (!inTransaction_) return true;
    plan_->statements.emplace_back(statement);
    const bool chosen = plan_->failWhen ? plan_->failed.empty() && plan_->failWhen(statement)
                                        : static_cast<int>(plan_->statements.size()) == plan_->failAt;
    if (!chosen) return true;
    plan_->failed = statement;
    if (plan_->diesAfter) {
      dying_ = true;
      return true;
    }
    error = "injected failure";
    if (plan_->abortsTransaction) {
      DBRollback(inner_);
      abortInjected_ = true;
      error = "Deadlock found when trying to get lock; try restarting transaction";
    }
    return false;
  }

  // False, with the error set, once the connection is gone.
  bool alive(std::string &error) {
    if (!dead_) return true;
    error = "the connection is gone";
    return false;
  }

  // After the inner call of a statement that passed: false, with the
  // connection gone, when it was the one to die after.
  bool survived(std::string &error) {
    if (!dying_) return true;
    dying_ = false;
    dead_ = true;
    error = "the connection is gone";
    return false;
  }

  bool execute(const char *query, std::string &error) override {
    if (!pass(query, error)) return false;
    const bool ok = innerCall(DBQueryEx(inner_, query, errorText_), error);
    return survived(error) && ok;
  }
  // The statements count in lane order, as the one connection would send
  // them: the chosen one fails without reaching the engine, or reaches it
  // with every statement before it and then the connection is gone.
  bool spread(std::vector<DbSpreadLane> &lanes, int width, std::string &error) override {
    if (!alive(error)) return false;
    std::vector<DbSpreadLane> passed(lanes.size());
    std::vector<std::vector<DbSpreadQuery *>> origin(lanes.size());
    for (size_t lane = 0; lane < lanes.size(); lane++)
      for (DbSpreadQuery &query : lanes[lane]) {
        std::string failure;
        if (dying_) break;
        if (!pass(query.text.c_str(), failure)) {
          query.sent = true;
          query.error = failure;
          if (query.endsLane) break;
          continue;
        }
        passed[lane].push_back(query);
        origin[lane].push_back(&query);
      }
    if (!DBSpreadQueries(inner_, passed, width)) {
      error = DBGetLastError(inner_);
      return false;
    }
    for (size_t lane = 0; lane < lanes.size(); lane++)
      for (size_t n = 0; n < passed[lane].size(); n++) *origin[lane][n] = passed[lane][n];
    if (dying_) {
      dying_ = false;
      dead_ = true;
    }
    return true;
  }
  int failureCode() override { return failureCode_; }
  bool select(const char *query, DbResultData &result, std::string &error) override {
    if (!pass(query, error)) return false;
    const bool ok = innerCall(CopyResult(DBSelectEx(inner_, query, errorText_), result), error);
    return survived(error) && ok;
  }
  std::unique_ptr<DbCursor> openCursor(const char *query, std::string &error) override {
    if (!pass(query, error)) return nullptr;
    db_async_result_t cursor = DBAsyncSelectEx(inner_, query, errorText_);
    if (cursor == nullptr) {
      error = errorText_;
      return nullptr;
    }
    return std::make_unique<Cursor>(cursor);
  }
  std::unique_ptr<DbStatement> prepare(const char *query, std::string &error) override {
    db_statement_t statement = DBPrepare(inner_, query, errorText_);
    if (statement == nullptr) {
      error = errorText_;
      return nullptr;
    }
    return std::make_unique<Statement>(*this, statement, query);
  }
  bool failureEndedTransaction() override {
    return abortInjected_ || DBGetTransactionAbort(inner_) != nullptr;
  }
  bool begin(std::string &error) override {
    abortInjected_ = false;
    if (!alive(error)) return false;
    plan_->statements.clear();
    inTransaction_ = true;
    return lastErrorCall(DBBegin(inner_), error);
  }
  bool commit(std::string &error) override {
    if (!alive(error)) return false;
    if (plan_->beforeCommit) plan_->beforeCommit();
    plan_->commits++;
    inTransaction_ = false;
    return lastErrorCall(plan_->commitRollsBack ? DBRollback(inner_) : DBCommit(inner_), error);
  }
  bool rollback(std::string &error) override {
    abortInjected_ = false;
    if (!alive(error)) return false;
    plan_->rollbacks++;
    inTransaction_ = false;
    return lastErrorCall(DBRollback(inner_), error);
  }

  // The run's savepoint is the inner connection's own affair, as the
  // statement savepoints are: it does not count as a statement.
  bool beginUnisolatedRun(std::string &error) override {
    return alive(error) && lastErrorCall(DBBeginUnisolatedRun(inner_), error);
  }
  bool endUnisolatedRun(bool keep, std::string &error) override {
    return alive(error) && lastErrorCall(DBEndUnisolatedRun(inner_, keep), error);
  }

  bool innerCall(bool ok, std::string &error) {
    if (!ok) {
      error = errorText_;
      failureCode_ = DBGetErrorCode(inner_, errorText_);
    }
    return ok;
  }

 private:
  bool lastErrorCall(bool ok, std::string &error) {
    if (!ok) error = DBGetLastError(inner_);
    return ok;
  }
  db_handle_t inner_;
  std::shared_ptr<FaultPlan> plan_;
  bool inTransaction_ = false;
  bool dying_ = false;
  bool dead_ = false;
  bool abortInjected_ = false;
  int failureCode_ = 0;  // the engine's, of the last inner call that failed
  char errorText_[DBDRV_MAX_ERROR_TEXT] = "";
};

inline bool Statement::execute(std::string &error) {
  if (!conn_.pass(text_.c_str(), error)) return false;
  char errorText[DBDRV_MAX_ERROR_TEXT] = "";
  bool ok = DBExecute(inner_, errorText);
  if (!ok) error = errorText;
  return conn_.survived(error) && ok;
}

inline bool Statement::select(DbResultData &result, std::string &error) {
  if (!conn_.pass(text_.c_str(), error)) return false;
  char errorText[DBDRV_MAX_ERROR_TEXT] = "";
  bool ok = CopyResult(DBSelectPrepared(inner_, errorText), result);
  if (!ok) error = errorText;
  return ok;
}

}  // namespace failing_db_detail

// A handle of the engine over inner (which stays open and owned by the
// caller) that follows the plan; free it with DBDisconnect.
inline db_handle_t OpenFailingHandle(db_handle_t inner, std::shared_ptr<FaultPlan> plan) {
  return DBAttachConnection(DBGetEngine(inner),
                            std::make_unique<failing_db_detail::FailingConnection>(inner, std::move(plan)));
}

}  // namespace tvtest
