// PostgreSQL driver on libpq. DBServer is the host, DBSchema (when set)
// the search path. DBDrvParams holds further libpq connection keywords,
// e.g. "port=5433;sslmode=require;connect_timeout=5"; connect_timeout is
// 30 seconds when it sets none.
//
// PostgreSQL aborts a whole transaction when one statement fails, while
// the tool reports a failed statement and often goes on inside the same
// transaction. So inside a transaction every statement runs behind a
// savepoint sent in the same round trip: released on success, rolled back
// to on failure, so a failed statement behaves as on the other engines.
// The three go out as separate messages of one pipeline, never as one
// text: the parser rejects a text as a whole, so a statement with a
// syntax error would take the savepoint down with it. Inside a
// transaction a statement text therefore holds one statement, as on
// MySQL. An unisolated run (DBBeginUnisolatedRun) is the exception: one
// savepoint before a stretch of statements sent bare.
#include <libpq-fe.h>

#include <climits>
#include <cstring>
#include <functional>

#include "db/db_driver.h"
#include "db/driver_params.h"

namespace {

const char kSavepoint[] = "SAVEPOINT tvdbmgr_stmt";
const char kRelease[] = "RELEASE SAVEPOINT tvdbmgr_stmt";
const char kUndo[] = "ROLLBACK TO SAVEPOINT tvdbmgr_stmt;RELEASE SAVEPOINT tvdbmgr_stmt";
const char kRunSavepoint[] = "SAVEPOINT tvdbmgr_run";
const char kRunRelease[] = "RELEASE SAVEPOINT tvdbmgr_run";
const char kRunUndo[] = "ROLLBACK TO SAVEPOINT tvdbmgr_run;RELEASE SAVEPOINT tvdbmgr_run";

std::string Message(const char *text) {
  std::string s = text != nullptr ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  if (s.compare(0, 7, "ERROR: ") == 0) s.erase(0, 7);
  return s.empty() ? "unknown PostgreSQL error" : s;
}

// The server's message without its "LINE n:" context: that context would
// show the savepoint text sent along with the caller's statement, and the
// tool prints the statement itself next to the message anyway.
std::string ResultMessage(const PGresult *r) {
  const char *primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
  if (primary == nullptr) return Message(PQresultErrorMessage(r));
  std::string text = primary;
  if (const char *detail = PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL))
    text += std::string(" (") + detail + ")";
  return text;
}

bool ResultOk(PGresult *r) {
  ExecStatusType st = PQresultStatus(r);
  return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_EMPTY_QUERY ||
         st == PGRES_SINGLE_TUPLE;
}

// The error of a statement: the server's message, or the connection's
// when no result came back at all.
std::string FailureText(PGconn *conn, const PGresult *r) {
  return r != nullptr ? ResultMessage(r) : Message(PQerrorMessage(conn));
}

struct ResultGuard {
  PGresult *r;
  ~ResultGuard() { PQclear(r); }
};

void CopyResult(PGresult *r, DbResultData &out) {
  int rows = PQntuples(r), columns = PQnfields(r);
  out.columns = columns;
  out.rows = rows;
  for (int c = 0; c < columns; c++) out.names.emplace_back(PQfname(r, c));
  for (int row = 0; row < rows; row++)
    for (int c = 0; c < columns; c++) {
      if (PQgetisnull(r, row, c))
        out.addCell(nullptr, 0);
      else
        out.addCell(PQgetvalue(r, row, c), static_cast<size_t>(PQgetlength(r, row, c)));
    }
}

// Takes over the result of a statement sent outside a transaction: its
// rows go to result (when given), its error to error.
bool TakeResult(PGconn *conn, PGresult *r, DbResultData *result, std::string &error) {
  ResultGuard g{r};
  if (!ResultOk(r)) {
    error = FailureText(conn, r);
    return false;
  }
  if (result != nullptr) CopyResult(r, *result);
  return true;
}

class PgsqlConnection;

class PgsqlCursor final : public DbCursor {
 public:
  PgsqlCursor(PgsqlConnection *owner, PGconn *conn, bool isolated)
      : owner_(owner), conn_(conn), isolated_(isolated) {}
  ~PgsqlCursor() override;
  bool fetch(std::string &error) override {
    PQclear(row_);
    row_ = nullptr;
    if (pending_ != nullptr) {
      row_ = pending_;
      pending_ = nullptr;
      captureNames();
      return true;
    }
    if (done_) return false;
    PGresult *r = PQgetResult(conn_);
    if (r != nullptr && PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
      row_ = r;
      captureNames();
      return true;
    }
    done_ = true;
    if (r != nullptr && !ResultOk(r)) {
      failed_ = true;
      error = ResultMessage(r);
    } else if (r != nullptr) {
      captureNames(r);
    } else {
      failed_ = true;
      error = Message(PQerrorMessage(conn_));
    }
    PQclear(r);
    drain();
    return false;
  }
  int columnCount() override { return static_cast<int>(names_.size()); }
  const char *columnName(int column) override {
    return column >= 0 && column < columnCount() ? names_[static_cast<size_t>(column)].c_str() : "";
  }
  const char *value(int column, size_t *length) override {
    *length = 0;
    if (row_ == nullptr || column < 0 || column >= PQnfields(row_) || PQgetisnull(row_, 0, column))
      return nullptr;
    *length = static_cast<size_t>(PQgetlength(row_, 0, column));
    return PQgetvalue(row_, 0, column);
  }

 private:
  void captureNames(PGresult *r = nullptr) {
    if (!names_.empty()) return;
    PGresult *src = r != nullptr ? r : row_;
    for (int c = 0; c < PQnfields(src); c++) names_.emplace_back(PQfname(src, c));
  }
  void drain() {
    while (PGresult *r = PQgetResult(conn_)) PQclear(r);
  }
  PgsqlConnection *owner_;
  PGconn *conn_;
  bool isolated_;
  PGresult *row_ = nullptr;
  PGresult *pending_ = nullptr;  // the first row, read when the query was sent
  bool done_ = false;
  bool failed_ = false;
  std::vector<std::string> names_;
  friend class PgsqlConnection;
};

class PgsqlStatement final : public DbStatement {
 public:
  PgsqlStatement(PgsqlConnection *owner, PGconn *conn, std::string name, int params)
      : owner_(owner),
        conn_(conn),
        name_(std::move(name)),
        values_(static_cast<size_t>(params)),
        isNull_(static_cast<size_t>(params), true) {}
  ~PgsqlStatement() override;
  bool bind(int pos, const char *value, size_t length) override {
    if (pos < 1 || pos > static_cast<int>(values_.size())) return false;
    size_t i = static_cast<size_t>(pos - 1);
    isNull_[i] = value == nullptr;
    values_[i].assign(value != nullptr ? value : "", value != nullptr ? length : 0);
    return true;
  }
  bool execute(std::string &error) override;
  bool select(DbResultData &result, std::string &error) override;

 private:
  bool run(DbResultData *result, std::string &error);
  PgsqlConnection *owner_;
  PGconn *conn_;
  std::string name_;
  std::vector<std::string> values_;
  std::vector<bool> isNull_;
};

// COPY in text format: tab-separated, \N for NULL, the separators and
// the backslash escaped. Data goes out in large chunks; the server's
// verdict comes at the end. Inside a transaction the COPY runs behind the
// statement savepoint like any other statement: a refused load is undone
// and the transaction goes on, so that a caller can still replay the rows
// one by one to find the one at fault.
class PgsqlCopyLoader final : public DbBulkLoader {
 public:
  PgsqlCopyLoader(PGconn *conn, size_t columns, bool isolated)
      : conn_(conn), columns_(columns), isolated_(isolated) {}
  ~PgsqlCopyLoader() override {
    if (!finished_) {
      PQputCopyEnd(conn_, "load abandoned");
      while (PGresult *r = PQgetResult(conn_)) PQclear(r);
    }
    if (isolated_) endIsolation(false);
  }
  bool addRow(const char *const *values, const size_t *lengths, std::string &error) override {
    for (size_t i = 0; i < columns_; i++) {
      if (i > 0) buffer_ += '\t';
      if (values[i] == nullptr) {
        buffer_ += "\\N";
        continue;
      }
      const char *v = values[i];
      size_t start = 0;
      for (size_t k = 0; k < lengths[i]; k++) {
        const char *escape = nullptr;
        switch (v[k]) {
          case '\\': escape = "\\\\"; break;
          case '\n': escape = "\\n"; break;
          case '\r': escape = "\\r"; break;
          case '\t': escape = "\\t"; break;
          default: continue;
        }
        buffer_.append(v + start, k - start);
        buffer_ += escape;
        start = k + 1;
      }
      buffer_.append(v + start, lengths[i] - start);
    }
    buffer_ += '\n';
    return buffer_.size() < kChunk || flush(error);
  }
  bool finish(std::string &error) override {
    if (!flush(error)) return false;
    finished_ = true;
    bool ok = PQputCopyEnd(conn_, nullptr) == 1;
    if (!ok) error = Message(PQerrorMessage(conn_));
    while (PGresult *r = PQgetResult(conn_)) {
      if (ok && !ResultOk(r)) {
        ok = false;
        error = ResultMessage(r);
      }
      PQclear(r);
    }
    if (isolated_ && !endIsolation(ok) && ok) {
      ok = false;
      error = Message(PQerrorMessage(conn_));
    }
    return ok;
  }

 private:
  static constexpr size_t kChunk = size_t{256} * 1024;
  // Releases the savepoint after a load that went in, else goes back to
  // it. False when the server refuses either.
  bool endIsolation(bool keep) {
    isolated_ = false;
    PGresult *r = PQexec(conn_, keep ? kRelease : kUndo);
    ResultGuard g{r};
    return ResultOk(r);
  }
  bool flush(std::string &error) {
    if (!buffer_.empty() && PQputCopyData(conn_, buffer_.data(), static_cast<int>(buffer_.size())) != 1) {
      error = Message(PQerrorMessage(conn_));
      return false;
    }
    buffer_.clear();
    return true;
  }
  PGconn *conn_;
  size_t columns_;
  bool isolated_;  // behind the statement savepoint, not yet released
  std::string buffer_;
  bool finished_ = false;
};

class PgsqlConnection final : public DbConnection {
 public:
  explicit PgsqlConnection(PGconn *conn) : conn_(conn) {}
  ~PgsqlConnection() override { PQfinish(conn_); }

  bool execute(const char *query, std::string &error) override { return run(query, nullptr, error); }
  bool select(const char *query, DbResultData &result, std::string &error) override {
    return run(query, &result, error);
  }
  std::unique_ptr<DbCursor> openCursor(const char *query, std::string &error) override {
    if (isolating() && !simple(kSavepoint, error)) return nullptr;
    if (!PQsendQuery(conn_, query)) {
      error = Message(PQerrorMessage(conn_));
      std::string ignored;
      if (isolating()) simple(kRelease, ignored);
      return nullptr;
    }
    PQsetSingleRowMode(conn_);
    auto cursor = std::make_unique<PgsqlCursor>(this, conn_, isolating());
    // Surface a failing query here rather than at the first fetch.
    PGresult *first = PQgetResult(conn_);
    if (first == nullptr || !ResultOk(first)) {
      error = (first != nullptr ? ResultMessage(first) : Message(PQerrorMessage(conn_)));
      PQclear(first);
      while (PGresult *r = PQgetResult(conn_)) PQclear(r);
      cursor->done_ = true;
      cursor->failed_ = true;
      return nullptr;  // the cursor's destructor undoes the savepoint
    }
    if (PQresultStatus(first) == PGRES_SINGLE_TUPLE) {
      cursor->captureNames(first);
      cursor->pending_ = first;
    } else {
      cursor->captureNames(first);
      PQclear(first);
      cursor->done_ = true;
      while (PGresult *r = PQgetResult(conn_)) PQclear(r);
    }
    return cursor;
  }
  std::unique_ptr<DbStatement> prepare(const char *query, std::string &error) override {
    std::vector<std::string> pieces = SplitAtPlaceholders(query);
    std::string text = pieces[0];
    for (size_t i = 1; i < pieces.size(); i++) text += "$" + std::to_string(i) + pieces[i];
    std::string name = "tvdbmgr_" + std::to_string(++statementCount_);
    if (isolating() && !simple(kSavepoint, error)) return nullptr;
    PGresult *r = PQprepare(conn_, name.c_str(), text.c_str(), 0, nullptr);
    bool ok = ResultOk(r);
    if (!ok) error = ResultMessage(r);
    PQclear(r);
    if (isolating()) {
      std::string ignored;
      simple(ok ? kRelease : kUndo, ignored);
    }
    if (!ok) return nullptr;
    return std::make_unique<PgsqlStatement>(this, conn_, name, static_cast<int>(pieces.size() - 1));
  }
  std::unique_ptr<DbBulkLoader> openBulkLoader(const std::string &table,
                                               const std::vector<std::string> &columns,
                                               std::string &error) override {
    std::string query = "COPY " + table + " (";
    for (size_t i = 0; i < columns.size(); i++) query += (i > 0 ? "," : "") + columns[i];
    query += ") FROM STDIN";
    if (isolating() && !simple(kSavepoint, error)) return nullptr;
    PGresult *r = PQexec(conn_, query.c_str());
    ResultGuard g{r};
    if (PQresultStatus(r) != PGRES_COPY_IN) {
      error = FailureText(conn_, r);
      std::string ignored;
      if (isolating()) simple(kUndo, ignored);
      return nullptr;
    }
    return std::make_unique<PgsqlCopyLoader>(conn_, columns.size(), isolating());
  }
  bool begin(std::string &error) override {
    if (!simple("BEGIN", error)) return false;
    inTransaction_ = true;
    return true;
  }
  bool commit(std::string &error) override {
    inTransaction_ = false;
    unisolated_ = false;
    PGresult *r = PQexec(conn_, "COMMIT");
    ResultGuard g{r};
    if (!ResultOk(r)) {
      error = FailureText(conn_, r);
      return false;
    }
    // COMMIT of an aborted transaction "succeeds" with a ROLLBACK tag.
    if (strcmp(PQcmdStatus(r), "ROLLBACK") == 0) {
      error = "the transaction was aborted and has been rolled back";
      return false;
    }
    return true;
  }
  bool rollback(std::string &error) override {
    inTransaction_ = false;
    unisolated_ = false;
    return simple("ROLLBACK", error);
  }
  bool beginUnisolatedRun(std::string &error) override {
    if (!inTransaction_ || unisolated_ || !simple(kRunSavepoint, error)) return false;
    unisolated_ = true;
    return true;
  }
  bool endUnisolatedRun(bool keep, std::string &error) override {
    if (!unisolated_) return true;
    unisolated_ = false;
    return simple(keep ? kRunRelease : kRunUndo, error);
  }
  // A failed statement goes back to its savepoint and leaves the
  // transaction as it was; what ends it is a failed COMMIT (a
  // serialization failure or deadlock found only then, a deferred
  // constraint) or a statement whose savepoint could not be restored. In
  // an unisolated run the run's savepoint takes a failure back.
  bool failureEndedTransaction() override {
    if (unisolated_ && inTransaction_) return false;
    const PGTransactionStatusType status = PQtransactionStatus(conn_);
    return status == PQTRANS_IDLE || status == PQTRANS_INERROR;
  }

  // Straight to the server: behind a statement savepoint, whose release
  // follows, the part's savepoint would be released with it.
  bool savepoint(SavepointCall call, std::string &error) override {
    return simple(StandardSavepointStatement(call), error);
  }

  bool inTransaction() const { return inTransaction_; }
  // Whether a statement goes behind a savepoint of its own.
  bool isolating() const { return inTransaction_ && !unisolated_; }
  bool simple(const char *query, std::string &error) {
    PGresult *r = PQexec(conn_, query);
    ResultGuard g{r};
    if (ResultOk(r)) return true;
    error = FailureText(conn_, r);
    return false;
  }
  void deallocate(const std::string &name) {
    std::string ignored;
    std::string q = "DEALLOCATE " + name;
    if (PQtransactionStatus(conn_) != PQTRANS_INERROR) simple(q.c_str(), ignored);
  }

  // Savepoint, the statement that sendStatement queues, and release in
  // one round trip; on failure back to the savepoint. The statement's
  // own result goes to result.
  bool runIsolated(const std::function<int()> &sendStatement, DbResultData *result, std::string &error) {
    if (!PQenterPipelineMode(conn_)) {
      error = Message(PQerrorMessage(conn_));
      return false;
    }
    bool sent =
        PQsendQueryParams(conn_, kSavepoint, 0, nullptr, nullptr, nullptr, nullptr, 0) && sendStatement() &&
        PQsendQueryParams(conn_, kRelease, 0, nullptr, nullptr, nullptr, nullptr, 0) && PQpipelineSync(conn_);
    bool ok = sent;
    if (!sent) error = Message(PQerrorMessage(conn_));
    if (sent) {
      for (int step = 0; step < 3; step++) {
        PGresult *r = PQgetResult(conn_);
        if (r == nullptr) {
          ok = false;
          error = Message(PQerrorMessage(conn_));
          break;
        }
        if (!ResultOk(r)) {
          if (ok && PQresultStatus(r) != PGRES_PIPELINE_ABORTED) error = ResultMessage(r);
          ok = false;
        } else if (step == 1 && result != nullptr) {
          CopyResult(r, *result);
        }
        PQclear(r);
        while (PGresult *extra = PQgetResult(conn_)) PQclear(extra);  // the end of this query
      }
      // The sync marker.
      while (PGresult *r = PQgetResult(conn_)) {
        bool sync = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
        PQclear(r);
        if (sync) break;
      }
    }
    if (!PQexitPipelineMode(conn_) && ok) {
      ok = false;
      error = Message(PQerrorMessage(conn_));
    }
    if (!ok) {
      std::string ignored;
      simple(kUndo, ignored);
    }
    return ok;
  }

 private:
  // Runs a query; inside a transaction behind a savepoint in the same
  // round trip. The result of the query itself goes to result.
  bool run(const char *query, DbResultData *result, std::string &error) {
    if (isolating())
      return runIsolated(
          [&] { return PQsendQueryParams(conn_, query, 0, nullptr, nullptr, nullptr, nullptr, 0); }, result,
          error);
    return TakeResult(conn_, PQexec(conn_, query), result, error);
  }

  PGconn *conn_;
  bool inTransaction_ = false;
  bool unisolated_ = false;  // in a run without a savepoint per statement
  unsigned statementCount_ = 0;
};

PgsqlCursor::~PgsqlCursor() {
  PQclear(row_);
  PQclear(pending_);
  if (!done_) {
    // Stop a large query instead of reading the rest of it.
    if (PGcancel *cancel = PQgetCancel(conn_)) {
      char buf[256];
      PQcancel(cancel, buf, sizeof(buf));
      PQfreeCancel(cancel);
    }
    drain();
    failed_ = true;
  }
  if (isolated_ && owner_->inTransaction()) {
    std::string ignored;
    owner_->simple(failed_ ? kUndo : kRelease, ignored);
  }
}

PgsqlStatement::~PgsqlStatement() { owner_->deallocate(name_); }

bool PgsqlStatement::execute(std::string &error) { return run(nullptr, error); }
bool PgsqlStatement::select(DbResultData &result, std::string &error) { return run(&result, error); }

bool PgsqlStatement::run(DbResultData *result, std::string &error) {
  std::vector<const char *> values(values_.size());
  std::vector<int> lengths(values_.size());
  for (size_t i = 0; i < values_.size(); i++) {
    values[i] = isNull_[i] ? nullptr : values_[i].c_str();
    lengths[i] = static_cast<int>(values_[i].size());
  }
  const int n = static_cast<int>(values.size());
  if (!owner_->isolating()) {
    return TakeResult(conn_,
                      PQexecPrepared(conn_, name_.c_str(), n, values.data(), lengths.data(), nullptr, 0),
                      result, error);
  }
  return owner_->runIsolated(
      [&] { return PQsendQueryPrepared(conn_, name_.c_str(), n, values.data(), lengths.data(), nullptr, 0); },
      result, error);
}

void IgnoreNotice(void *, const char *) {}

// The numeric libpq keywords and their ranges. libpq itself would take
// "5x" for 5 in some of them, and leaves 0 or a negative connect_timeout
// to mean no limit at all.
struct NumericKeyword {
  const char *name;
  unsigned min, max;
};
constexpr NumericKeyword kNumericKeywords[] = {
    {"port", 1, 65535},
    {"connect_timeout", 1, kMaxConnectTimeoutSeconds},
    {"keepalives", 0, 1},
    {"keepalives_idle", 0, INT_MAX},
    {"keepalives_interval", 0, INT_MAX},
    {"keepalives_count", 0, INT_MAX},
    {"tcp_user_timeout", 0, INT_MAX},
};

// A numeric keyword's value; port may list one port per host of DBServer,
// separated by commas.
bool CheckNumericKeyword(const NumericKeyword &keyword, const std::string &value, std::string &error) {
  size_t from = 0;
  const bool list = strcmp(keyword.name, "port") == 0;
  for (;;) {
    size_t comma = list ? value.find(',', from) : std::string::npos;
    unsigned number;
    if (!ParseDriverNumber("PostgreSQL", keyword.name, value.substr(from, comma - from), keyword.min,
                           keyword.max, number, error))
      return false;
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}

}  // namespace

bool PgsqlConnectKeywords(const DbConnectParams &params,
                          std::vector<std::pair<std::string, std::string>> &keywords, std::string &error) {
  keywords.clear();
  if (!params.server.empty()) keywords.emplace_back("host", params.server);
  keywords.emplace_back("dbname", params.database);
  keywords.emplace_back("user", params.login);
  keywords.emplace_back("password", params.password);
  keywords.emplace_back("client_encoding", "UTF8");
  keywords.emplace_back("application_name", "tvdbmgr");
  bool timeoutSet = false;
  for (const auto &[key, value] : params.options) {
    for (const NumericKeyword &numeric : kNumericKeywords)
      if (key == numeric.name && !CheckNumericKeyword(numeric, value, error)) return false;
    timeoutSet = timeoutSet || key == "connect_timeout";
    keywords.emplace_back(key, value);
  }
  if (!timeoutSet) keywords.emplace_back("connect_timeout", std::to_string(kDefaultConnectTimeoutSeconds));
  return true;
}

std::unique_ptr<DbConnection> PgsqlConnect(const DbConnectParams &params, std::string &error) {
  std::vector<std::pair<std::string, std::string>> keywords;
  if (!PgsqlConnectKeywords(params, keywords, error)) return nullptr;
  std::vector<const char *> k, v;
  for (const auto &[key, value] : keywords) {
    k.push_back(key.c_str());
    v.push_back(value.c_str());
  }
  k.push_back(nullptr);
  v.push_back(nullptr);
  PGconn *conn = PQconnectdbParams(k.data(), v.data(), 0);
  if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
    error = Message(conn != nullptr ? PQerrorMessage(conn) : "out of memory");
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  auto c = std::make_unique<PgsqlConnection>(conn);
  // Quoted literals double the quote and leave backslashes alone, which is
  // safe only while backslashes are plain characters: a database or role
  // set to the old escaping must not turn a stored text into SQL.
  if (!c->execute("SET standard_conforming_strings TO on", error)) return nullptr;
  if (!params.schema.empty()) {
    char *ident = PQescapeIdentifier(conn, params.schema.c_str(), params.schema.size());
    std::string q = std::string("SET search_path TO ") + (ident != nullptr ? ident : "\"\"");
    PQfreemem(ident);
    if (!c->execute(q.c_str(), error)) return nullptr;
  }
  return c;
}
