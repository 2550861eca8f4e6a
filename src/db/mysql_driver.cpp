// MySQL/MariaDB driver on the MariaDB Connector/C. DBServer is the host
// ("localhost" means the local socket), DBName the database; DBSchema has
// no meaning on this engine. DBDrvParams accepts port=<n>, socket=<path>,
// connect_timeout=<s> (default 30) and sql_mode=<modes>.
//
// The session runs with sql_mode 'NO_ENGINE_SUBSTITUTION' unless
// DBDrvParams says otherwise: the server schema's statements rely on the
// permissive mode (an INSERT may omit a NOT NULL text column without a
// default, which strict mode rejects). The price is that the server
// converts instead of rejecting some bad values (a too long text is cut
// with a warning); the tool itself only writes values it read from a
// database with the same schema.
//
// Some failures end the whole open transaction, not just the statement:
// what was sent before is gone, and what follows runs in a new
// transaction. The driver tells them by the server's code.
#include <mysql.h>

#include <cstring>

#include "db/db_driver.h"
#include "db/driver_params.h"

namespace {

std::string Message(MYSQL *conn) {
  std::string s = mysql_error(conn);
  return s.empty() ? "unknown MySQL error" : s;
}

// A deadlock, which is also how a cluster reports a failed certification
// or a transaction aborted for a replicated one (1213); a failed commit
// (1180, also a cluster's writeset limit); a cluster node that is not
// ready and takes no statement until it is (1047, "WSREP has not yet
// prepared node for application use"); a rollback that a replication
// plugin ordered at commit (3101); and any failed COMMIT, whatever its
// number (a cluster's writeset size limit is 1105), unless the client
// lost the connection and cannot know. A lock wait timeout (1205) is one
// only under innodb_rollback_on_timeout, which the caller looks up.
constexpr unsigned kDeadlock = 1213, kLockWaitTimeout = 1205;
constexpr unsigned kFirstClientError = 2000, kLastClientError = 2999;
bool AlwaysEndsTransaction(unsigned code) {
  return code == kDeadlock || code == 1180 || code == 1047 || code == 3101;
}

std::string Quote(const char *value, size_t length) {
  std::string out = "'";
  out.reserve(length + 2);
  for (size_t i = 0; i < length; i++) {
    char c = value[i];
    if (c == '\'')
      out += "''";
    else if (c == '\\')
      out += "\\\\";
    else if (c == 0)
      out += "\\0";
    else
      out += c;
  }
  out += '\'';
  return out;
}

void CopyResult(MYSQL_RES *res, DbResultData &out) {
  unsigned columns = mysql_num_fields(res);
  out.columns = static_cast<int>(columns);
  MYSQL_FIELD *fields = mysql_fetch_fields(res);
  for (unsigned c = 0; c < columns; c++) out.names.emplace_back(fields[c].name);
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    unsigned long *lengths = mysql_fetch_lengths(res);
    for (unsigned c = 0; c < columns; c++) out.addCell(row[c], row[c] != nullptr ? lengths[c] : 0);
    out.rows++;
  }
}

class MysqlCursor final : public DbCursor {
 public:
  MysqlCursor(MYSQL *conn, MYSQL_RES *res) : conn_(conn), res_(res) {
    MYSQL_FIELD *fields = mysql_fetch_fields(res);
    for (unsigned c = 0; c < mysql_num_fields(res); c++) names_.emplace_back(fields[c].name);
  }
  ~MysqlCursor() override { mysql_free_result(res_); }
  bool fetch(std::string &error) override {
    row_ = mysql_fetch_row(res_);
    if (row_ != nullptr) {
      lengths_ = mysql_fetch_lengths(res_);
      return true;
    }
    if (mysql_errno(conn_) != 0) error = Message(conn_);
    return false;
  }
  int columnCount() override { return static_cast<int>(names_.size()); }
  const char *columnName(int column) override {
    return column >= 0 && column < columnCount() ? names_[static_cast<size_t>(column)].c_str() : "";
  }
  const char *value(int column, size_t *length) override {
    *length = 0;
    if (row_ == nullptr || column < 0 || column >= columnCount() || row_[column] == nullptr) return nullptr;
    *length = lengths_[column];
    return row_[column];
  }

 private:
  MYSQL *conn_;
  MYSQL_RES *res_;
  MYSQL_ROW row_ = nullptr;
  unsigned long *lengths_ = nullptr;
  std::vector<std::string> names_;
};

class MysqlConnection;

// The statement text is completed on the client with quoted values: one
// round trip per execution, as a server-side prepare would need too.
class MysqlStatement final : public DbStatement {
 public:
  MysqlStatement(MysqlConnection *owner, std::vector<std::string> pieces)
      : owner_(owner), pieces_(std::move(pieces)), values_(pieces_.size() - 1, "NULL") {}
  bool bind(int pos, const char *value, size_t length) override {
    if (pos < 1 || pos > static_cast<int>(values_.size())) return false;
    values_[static_cast<size_t>(pos - 1)] = value != nullptr ? Quote(value, length) : "NULL";
    return true;
  }
  bool execute(std::string &error) override;
  bool select(DbResultData &result, std::string &error) override;

 private:
  std::string text() const {
    std::string q = pieces_[0];
    for (size_t i = 0; i < values_.size(); i++) q += values_[i] + pieces_[i + 1];
    return q;
  }
  MysqlConnection *owner_;
  std::vector<std::string> pieces_;
  std::vector<std::string> values_;
};

// Many rows per INSERT: one round trip per megabyte instead of per row.
class MysqlInsertLoader final : public DbBulkLoader {
 public:
  MysqlInsertLoader(DbConnection &conn, std::string head, size_t columns)
      : conn_(conn), head_(std::move(head)), columns_(columns) {}
  bool addRow(const char *const *values, const size_t *lengths, std::string &error) override {
    statement_ += statement_.empty() ? head_ + "(" : ",(";
    for (size_t i = 0; i < columns_; i++) {
      if (i > 0) statement_ += ',';
      statement_ += values[i] != nullptr ? Quote(values[i], lengths[i]) : "NULL";
    }
    statement_ += ')';
    return statement_.size() < kStatementSize || flush(error);
  }
  bool finish(std::string &error) override { return flush(error); }

 private:
  static constexpr size_t kStatementSize = size_t{1024} * 1024;
  bool flush(std::string &error) {
    if (statement_.empty()) return true;
    bool ok = conn_.execute(statement_.c_str(), error);
    statement_.clear();
    return ok;
  }
  DbConnection &conn_;
  std::string head_;
  size_t columns_;
  std::string statement_;
};

class MysqlConnection final : public DbConnection {
 public:
  MysqlConnection(MYSQL *conn, DbConnectParams params) : conn_(conn), params_(std::move(params)) {}
  ~MysqlConnection() override { mysql_close(conn_); }

  bool execute(const char *query, std::string &error) override {
    if (!send(query, error)) return false;
    // A statement that returns rows must have them read before the next.
    MYSQL_RES *res = mysql_store_result(conn_);
    if (res != nullptr) {
      mysql_free_result(res);
    } else if (mysql_errno(conn_) == 0) {
      const my_ulonglong rows = mysql_affected_rows(conn_);
      if (rows != static_cast<my_ulonglong>(-1)) transactionRows_ += static_cast<int64_t>(rows);
    }
    if (mysql_errno(conn_) != 0) {
      error = Message(conn_);
      return false;
    }
    return true;
  }
  bool select(const char *query, DbResultData &result, std::string &error) override {
    if (!send(query, error)) return false;
    MYSQL_RES *res = mysql_store_result(conn_);
    if (res == nullptr) {
      if (mysql_errno(conn_) != 0) {
        error = Message(conn_);
        return false;
      }
      return true;  // a statement without a result set
    }
    CopyResult(res, result);
    mysql_free_result(res);
    return true;
  }
  std::unique_ptr<DbCursor> openCursor(const char *query, std::string &error) override {
    if (!send(query, error)) return nullptr;
    MYSQL_RES *res = mysql_use_result(conn_);
    if (res == nullptr) {
      error = mysql_errno(conn_) != 0 ? Message(conn_) : "the statement returns no rows";
      return nullptr;
    }
    return std::make_unique<MysqlCursor>(conn_, res);
  }
  std::unique_ptr<DbStatement> prepare(const char *query, std::string &) override {
    return std::make_unique<MysqlStatement>(this, SplitAtPlaceholders(query));
  }
  std::unique_ptr<DbBulkLoader> openBulkLoader(const std::string &table,
                                               const std::vector<std::string> &columns,
                                               std::string &) override {
    std::string head = "INSERT INTO " + table + " (";
    for (size_t i = 0; i < columns.size(); i++) head += (i > 0 ? "," : "") + columns[i];
    head += ") VALUES ";
    return std::make_unique<MysqlInsertLoader>(*this, std::move(head), columns.size());
  }
  // A schema statement commits the open transaction at once. With
  // autocommit off, the statements after it still form a transaction of
  // their own, which the closing COMMIT or ROLLBACK ends; in autocommit
  // mode each of them would be committed the moment it ran.
  bool begin(std::string &error) override {
    transactionRows_ = 0;
    return execute("SET autocommit=0", error) && execute("START TRANSACTION", error);
  }
  bool commit(std::string &error) override { return endTransaction("COMMIT", error); }
  bool rollback(std::string &error) override { return endTransaction("ROLLBACK", error); }
  bool failureEndedTransaction() override {
    const unsigned code = static_cast<unsigned>(failureCode());
    if (endFailure_ != 0) return code < kFirstClientError || code > kLastClientError;
    return AlwaysEndsTransaction(code) || (code == kLockWaitTimeout && rollsBackOnTimeout());
  }
  int failureCode() override { return static_cast<int>(endFailure_ != 0 ? endFailure_ : mysql_errno(conn_)); }
  int64_t transactionRows() override { return transactionRows_; }
  // The siblings work in the database this connection is in now, which a
  // USE may have changed since they were opened. A Galera node applies
  // every schema statement with the whole cluster in one total order, so
  // several at once would only queue there: it has no siblings.
  bool spread(std::vector<DbSpreadLane> &lanes, int width, std::string &error) override {
    if (galeraNode_ < 0) {
      DbResultData wsrep;
      std::string ignored;
      // Servers without Galera support have no such variable.
      galeraNode_ = select("SELECT @@GLOBAL.wsrep_on", wsrep, ignored) && wsrep.rows == 1 &&
                            !wsrep.nulls[0] && strcmp(wsrep.data.c_str(), "1") == 0
                        ? 1
                        : 0;
    }
    if (galeraNode_ == 1) {
      error = "a Galera node takes schema statements one at a time";
      return false;
    }
    DbResultData current;
    if (!select("SELECT DATABASE()", current, error)) return false;
    const std::string database = current.rows == 1 && !current.nulls[0] ? current.data.c_str() : "";
    while (static_cast<int>(siblings_.size()) < width) {
      std::string openError;
      std::unique_ptr<DbConnection> sibling = MysqlConnect(params_, openError);
      if (sibling == nullptr) {
        // Fewer connections than asked for still spread the work.
        if (!siblings_.empty()) break;
        error = openError;
        return false;
      }
      siblings_.push_back({std::move(sibling), params_.database});
    }
    std::vector<DbConnection *> connections;
    for (Sibling &sibling : siblings_) {
      if (static_cast<int>(connections.size()) == width) break;
      if (sibling.database != database) {
        std::string use = "USE `";
        for (char c : database) use += c == '`' ? std::string("``") : std::string(1, c);
        if (!sibling.conn->execute((use + "`").c_str(), error)) return false;
        sibling.database = database;
      }
      connections.push_back(sibling.conn.get());
    }
    RunSpreadLanes(connections, lanes);
    return true;
  }

 private:
  struct Sibling {
    std::unique_ptr<DbConnection> conn;
    std::string database;
  };
  // The closing statement's error wins; autocommit is restored in any case.
  bool endTransaction(const char *statement, std::string &error) {
    bool ok = execute(statement, error);
    const unsigned code = ok ? 0 : mysql_errno(conn_);
    std::string restoreError;
    if (!execute("SET autocommit=1", restoreError) && ok) {
      error = restoreError;
      ok = false;
    }
    endFailure_ = code;
    return ok;
  }
  // The setting is fixed while the server runs: read once.
  bool rollsBackOnTimeout() {
    if (rollbackOnTimeout_ < 0) {
      DbResultData value;
      std::string ignored;
      rollbackOnTimeout_ = select("SELECT @@innodb_rollback_on_timeout", value, ignored) && value.rows == 1 &&
                                   strcmp(value.data.c_str(), "1") == 0
                               ? 1
                               : 0;
    }
    return rollbackOnTimeout_ == 1;
  }
  bool send(const char *query, std::string &error) {
    endFailure_ = 0;
    if (mysql_real_query(conn_, query, strlen(query)) == 0) return true;
    error = Message(conn_);
    return false;
  }
  MYSQL *conn_;
  unsigned endFailure_ = 0;  // the code of a failed COMMIT or ROLLBACK
  int rollbackOnTimeout_ = -1;
  int64_t transactionRows_ = 0;
  DbConnectParams params_;  // for the siblings
  int galeraNode_ = -1;     // not asked yet
  std::vector<Sibling> siblings_;
};

bool MysqlStatement::execute(std::string &error) { return owner_->execute(text().c_str(), error); }
bool MysqlStatement::select(DbResultData &result, std::string &error) {
  return owner_->select(text().c_str(), result, error);
}

}  // namespace

bool ReadMysqlOptions(const DbConnectParams &params, MysqlOptions &options, std::string &error) {
  for (const auto &[key, value] : params.options) {
    if (key == "port") {
      if (!ParseDriverNumber("MySQL", key, value, 1, 65535, options.port, error)) return false;
    } else if (key == "socket") {
      options.socket = value;
    } else if (key == "connect_timeout") {
      if (!ParseDriverNumber("MySQL", key, value, 1, kMaxConnectTimeoutSeconds, options.connectTimeout,
                             error))
        return false;
    } else if (key == "sql_mode") {
      options.sqlMode = value;
    } else {
      error = "unknown MySQL driver parameter \"" + key + "\"";
      return false;
    }
  }
  return true;
}

std::unique_ptr<DbConnection> MysqlConnect(const DbConnectParams &params, std::string &error) {
  MysqlOptions options;
  if (!ReadMysqlOptions(params, options, error)) return nullptr;
  MYSQL *conn = mysql_init(nullptr);
  if (conn == nullptr) {
    error = "out of memory";
    return nullptr;
  }
  mysql_options(conn, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  // The client waits this long for the connection and for the server's
  // greeting after it.
  mysql_options(conn, MYSQL_OPT_CONNECT_TIMEOUT, &options.connectTimeout);
  auto c = std::make_unique<MysqlConnection>(conn, params);
  if (mysql_real_connect(conn, params.server.empty() ? nullptr : params.server.c_str(), params.login.c_str(),
                         params.password.c_str(), params.database.c_str(), options.port,
                         options.socket.empty() ? nullptr : options.socket.c_str(), 0) == nullptr) {
    error = Message(conn);
    return nullptr;
  }
  std::string mode = "SET SESSION sql_mode=" + Quote(options.sqlMode.c_str(), options.sqlMode.size());
  if (!c->execute(mode.c_str(), error)) return nullptr;
  // Every quoted literal escapes the backslash; under this mode the
  // server would keep the escape characters and store altered texts.
  unsigned status = 0;
  if (mariadb_get_infov(conn, MARIADB_CONNECTION_SERVER_STATUS, &status) == 0 &&
      (status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0) {
    error = "sql_mode NO_BACKSLASH_ESCAPES is not supported";
    return nullptr;
  }
  return c;
}
