// ODBC driver on unixODBC: reaches every engine that has an ODBC driver
// (FreeTDS or Microsoft's driver for SQL Server, Oracle's own, DB2's).
// DBName is a data source name from odbc.ini, or a whole connection
// string when it holds a "="; DBLogin and DBPassword add UID and PWD
// unless that string names them, DBServer adds SERVER to a connection
// string without a data source or a server of its own. DBDrvParams
// holds further connection keywords of the ODBC driver, e.g. "Port=5433",
// and connect_timeout=<s> (default 30), the standard login timeout and,
// for MariaDB's ODBC driver, which ignores that, its CONN_TIMEOUT keyword.
// DBSchema becomes the search path on PostgreSQL and the current schema
// on Oracle.
//
// Every text goes through the wide (UTF-16) calls: the narrow calls would
// leave the character set to the driver manager's and each driver's own
// settings, while the tool's texts are UTF-8.
//
// The engine behind the data source comes from SQL_DBMS_NAME, so that
// quoting and the engine-specific paths of the tool follow it. On
// PostgreSQL a failed statement aborts the whole transaction, while the
// tool reports a failed statement and often goes on inside the same
// transaction. So there, inside a transaction, every statement runs
// behind a savepoint, as the native driver does: ODBC has no pipeline, so
// the savepoint goes out in a round trip of its own, together with the
// release of the previous statement's savepoint.
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "db/db.h"
#include "db/db_driver.h"
#include "db/driver_params.h"

namespace {

using WideString = std::basic_string<SQLWCHAR>;

const char kSavepoint[] = "SAVEPOINT tvdbmgr_stmt";
const char kNextSavepoint[] = "RELEASE SAVEPOINT tvdbmgr_stmt;SAVEPOINT tvdbmgr_stmt";
const char kUndo[] = "ROLLBACK TO SAVEPOINT tvdbmgr_stmt";

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// UTF-8 to UTF-16. False for a text that is not UTF-8: no engine could
// store it as it stands, and a replacement character would change it
// silently.
bool ToWide(const char *text, size_t length, WideString &out) {
  out.clear();
  out.reserve(length);
  const auto *s = reinterpret_cast<const unsigned char *>(text);
  static const unsigned kMin[] = {0, 0x80, 0x800, 0x10000};
  for (size_t i = 0; i < length;) {
    const unsigned lead = s[i];
    const size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : 3;
    if ((lead >= 0x80 && lead < 0xC0) || lead >= 0xF8 || length - i <= extra) return false;
    unsigned code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra; k++) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (s[i + k] & 0x3F);
    }
    if (code < kMin[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<SQLWCHAR>(0xD800 + (code >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(code));
    }
    i += extra + 1;
  }
  return true;
}

// UTF-16 to UTF-8; a lone surrogate, which no engine sends, becomes U+FFFD.
void AppendUtf8(const SQLWCHAR *w, size_t n, std::string &out) {
  for (size_t i = 0; i < n; i++) {
    unsigned c = w[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      i++;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

// The messages of the diagnostic records of a handle, joined by "; ".
// Returns a generic text when the driver left none.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  for (SQLSMALLINT record = 1; record <= 5; record++) {
    SQLWCHAR state[6], message[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, message,
                                  static_cast<SQLSMALLINT>(sizeof(message) / sizeof(message[0])), &length);
    if (!Succeeded(rc)) break;
    size_t n = std::min(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                        sizeof(message) / sizeof(message[0]) - 1);
    std::string one;
    AppendUtf8(message, n, one);
    while (!one.empty() && (one.back() == '\n' || one.back() == ' ' || one.back() == ';')) one.pop_back();
    if (one.empty()) {
      one = "SQLSTATE ";
      AppendUtf8(state, 5, one);
    }
    if (!text.empty()) text += "; ";
    text += one;
  }
  return text.empty() ? "unknown ODBC error" : text;
}

// A text of SQLGetInfo (SQL_DBMS_NAME, SQL_DRIVER_NAME); empty when the
// driver does not say.
std::string InfoText(SQLHDBC dbc, SQLUSMALLINT item) {
  SQLWCHAR text[256];
  SQLSMALLINT bytes = 0;
  std::string out;
  if (Succeeded(SQLGetInfoW(dbc, item, text, sizeof(text), &bytes)))
    AppendUtf8(text,
               std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(bytes, 0)) / sizeof(SQLWCHAR), 255),
               out);
  return out;
}

// An ODBC handle, freed with its owner.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  SQLHANDLE get() const { return handle_; }
  // Gives the handle up to a new owner.
  SQLHANDLE release() {
    SQLHANDLE h = handle_;
    handle_ = SQL_NULL_HANDLE;
    return h;
  }
  std::string diagnostics() const { return Diagnostics(type_, handle_); }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_;
};

// A value inside a connection string: braced when it holds a character
// that would end or confuse it.
std::string ConnectionValue(const std::string &value) {
  if (value.find_first_of(";{}= ") == std::string::npos) return value;
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// Finds keyword in a connection string (case-insensitive); value, when
// given, receives its value without braces.
bool FindKeyword(const std::string &connection, const char *keyword, std::string *value) {
  size_t i = 0;
  while (i < connection.size()) {
    while (i < connection.size() && (connection[i] == ';' || connection[i] == ' ')) i++;
    size_t eq = connection.find('=', i);
    if (eq == std::string::npos) return false;
    std::string key = connection.substr(i, eq - i);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    const bool found = strcasecmp(key.c_str(), keyword) == 0;
    std::string text;
    i = eq + 1;
    const bool braced = i < connection.size() && connection[i] == '{';
    if (braced) {
      // A braced value ends at a single "}"; "}}" is one brace.
      for (i++; i < connection.size(); i++) {
        if (connection[i] == '}' && !(i + 1 < connection.size() && connection[i + 1] == '}')) break;
        if (connection[i] == '}') i++;
        text += connection[i];
      }
    }
    for (; i < connection.size() && connection[i] != ';'; i++)
      if (!braced) text += connection[i];
    if (found) {
      if (value != nullptr) *value = text;
      return true;
    }
  }
  return false;
}

bool HasKeyword(const std::string &connection, const char *keyword) {
  return FindKeyword(connection, keyword, nullptr);
}

// Whether the connection goes through MariaDB's ODBC driver, named in the
// connection string or in the data source of odbc.ini, by its name in
// odbcinst.ini or by its library.
bool IsMariadbOdbcDriver(const std::string &connection) {
  std::string driver, dsn;
  char text[1024] = "";
  if (!FindKeyword(connection, "DRIVER", &driver) && FindKeyword(connection, "DSN", &dsn)) {
    SQLGetPrivateProfileString(dsn.c_str(), "Driver", "", text, sizeof(text), "ODBC.INI");
    driver = text;
  }
  text[0] = 0;
  if (!driver.empty())
    SQLGetPrivateProfileString(driver.c_str(), "Driver", "", text, sizeof(text), "ODBCINST.INI");
  for (const std::string &name : {driver, std::string(text)})
    if (strcasestr(name.c_str(), "mariadb") != nullptr || strcasestr(name.c_str(), "maodbc") != nullptr)
      return true;
  return false;
}

// The connection string of the settings. A data source names its own
// server, under a keyword of its driver's choosing, and the settings
// always hold one (127.0.0.1 when unset): so SERVER is added only to a
// connection string that names neither a data source nor a server.
std::string ConnectionString(const DbConnectParams &params) {
  const bool dsn = params.database.find('=') == std::string::npos;
  std::string s = dsn ? "DSN=" + ConnectionValue(params.database) : params.database;
  auto add = [&](const char *keyword, const std::string &value) {
    if (value.empty() || HasKeyword(s, keyword)) return;
    if (!s.empty() && s.back() != ';') s += ';';
    s += std::string(keyword) + "=" + ConnectionValue(value);
  };
  if (!HasKeyword(s, "DSN") && !HasKeyword(s, "SERVERNAME")) add("SERVER", params.server);
  add("UID", params.login);
  add("PWD", params.password);
  for (const auto &[key, value] : params.options) add(key.c_str(), value);
  return s;
}

int EngineFromName(const std::string &name) {
  static const struct {
    const char *part;
    int engine;
  } kNames[] = {{"PostgreSQL", DB_SYNTAX_PGSQL}, {"MySQL", DB_SYNTAX_MYSQL},   {"MariaDB", DB_SYNTAX_MYSQL},
                {"SQL Server", DB_SYNTAX_MSSQL}, {"Oracle", DB_SYNTAX_ORACLE}, {"SQLite", DB_SYNTAX_SQLITE},
                {"DB2", DB_SYNTAX_DB2}};
  for (const auto &n : kNames)
    if (strcasestr(name.c_str(), n.part) != nullptr) return n.engine;
  return DB_SYNTAX_UNKNOWN;
}

bool IsTextType(SQLSMALLINT type) {
  return type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_LONGVARCHAR || type == SQL_WCHAR ||
         type == SQL_WVARCHAR || type == SQL_WLONGVARCHAR;
}

std::string QuotedIdentifier(const std::string &name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// A second statement in a text that must hold one: a ";" outside quotes
// followed by more than white space.
bool HoldsSecondStatement(const char *query) {
  char quote = 0;
  for (const char *p = query; *p != 0; p++) {
    if (quote != 0) {
      if (*p == quote) quote = 0;
    } else if (*p == '\'' || *p == '"') {
      quote = *p;
    } else if (*p == ';') {
      for (const char *q = p + 1; *q != 0; q++)
        if (*q != ' ' && *q != '\t' && *q != '\r' && *q != '\n') return true;
      return false;
    }
  }
  return false;
}

// The current row's cells of a statement, read as UTF-16 text in pieces
// of any length and kept as UTF-8.
class RowReader {
 public:
  // False with the driver's message when the columns cannot be described.
  bool describe(SQLHSTMT stmt, std::string &error) {
    SQLSMALLINT columns = 0;
    if (!Succeeded(SQLNumResultCols(stmt, &columns))) {
      error = Diagnostics(SQL_HANDLE_STMT, stmt);
      return false;
    }
    names.clear();
    for (SQLSMALLINT c = 1; c <= columns; c++) {
      SQLWCHAR name[256];
      SQLSMALLINT length = 0, type, digits, nullable;
      SQLULEN size;
      if (!Succeeded(SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(c), name, 256, &length, &type, &size,
                                     &digits, &nullable))) {
        error = Diagnostics(SQL_HANDLE_STMT, stmt);
        return false;
      }
      std::string n;
      AppendUtf8(name, std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), 255), n);
      names.push_back(std::move(n));
    }
    values.assign(names.size(), std::string());
    nulls.assign(names.size(), true);
    return true;
  }
  // Reads every cell of the current row; false with the driver's message.
  bool read(SQLHSTMT stmt, std::string &error) {
    for (size_t c = 0; c < names.size(); c++) {
      std::string &value = values[c];
      value.clear();
      nulls[c] = false;
      wide_.clear();
      for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(c + 1), SQL_C_WCHAR, chunk_, sizeof(chunk_),
                                  &indicator);
        if (rc == SQL_NO_DATA) break;  // the previous piece was the last
        if (!Succeeded(rc)) {
          error = Diagnostics(SQL_HANDLE_STMT, stmt);
          return false;
        }
        if (indicator == SQL_NULL_DATA) {
          nulls[c] = true;
          break;
        }
        const size_t capacity = sizeof(chunk_) / sizeof(SQLWCHAR) - 1;
        bool whole =
            indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / sizeof(SQLWCHAR) <= capacity;
        wide_.append(chunk_, whole ? static_cast<size_t>(indicator) / sizeof(SQLWCHAR) : capacity);
        if (whole) break;
      }
      AppendUtf8(wide_.data(), wide_.size(), value);
    }
    return true;
  }

  std::vector<std::string> names;
  std::vector<std::string> values;
  std::vector<bool> nulls;

 private:
  SQLWCHAR chunk_[2048];
  WideString wide_;
};

class OdbcConnection;

class OdbcCursor final : public DbCursor {
 public:
  OdbcCursor(OdbcConnection *owner, SQLHSTMT stmt, bool isolated)
      : owner_(owner), stmt_(SQL_HANDLE_STMT, stmt), isolated_(isolated) {}
  ~OdbcCursor() override;
  // Reads the column names; a statement without a result set gives a
  // cursor without rows.
  bool describe(std::string &error) {
    failed_ = !row_.describe(stmt_.get(), error);
    done_ = failed_ || row_.names.empty();
    return !failed_;
  }
  bool fetch(std::string &error) override {
    if (done_) return false;
    SQLRETURN rc = SQLFetch(stmt_.get());
    if (Succeeded(rc) && row_.read(stmt_.get(), error)) return true;
    done_ = true;
    if (rc == SQL_NO_DATA) return false;
    failed_ = true;
    if (!Succeeded(rc)) error = stmt_.diagnostics();
    return false;
  }
  int columnCount() override { return static_cast<int>(row_.names.size()); }
  const char *columnName(int column) override {
    return column >= 0 && column < columnCount() ? row_.names[static_cast<size_t>(column)].c_str() : "";
  }
  const char *value(int column, size_t *length) override {
    *length = 0;
    if (column < 0 || column >= columnCount() || row_.nulls[static_cast<size_t>(column)]) return nullptr;
    const std::string &v = row_.values[static_cast<size_t>(column)];
    *length = v.size();
    return v.c_str();
  }

 private:
  OdbcConnection *owner_;
  Handle stmt_;
  bool isolated_;
  bool done_ = false;
  bool failed_ = false;
  RowReader row_;
};

// A parameter is bound as UTF-16 text of the SQL type that the driver
// describes for it (so that PostgreSQL, which types parameters strictly,
// converts the text to an integer column's type), or as a text type where
// the driver cannot say.
struct Parameter {
  WideString value;
  SQLLEN indicator = SQL_NULL_DATA;
  SQLSMALLINT type = SQL_WVARCHAR;
  SQLSMALLINT digits = 0;
  bool bad = false;  // the last value bound was not UTF-8
};

class OdbcStatement final : public DbStatement {
 public:
  OdbcStatement(OdbcConnection *owner, SQLHSTMT stmt, std::vector<Parameter> params)
      : owner_(owner), stmt_(SQL_HANDLE_STMT, stmt), params_(std::move(params)) {}
  bool bind(int pos, const char *value, size_t length) override {
    if (pos < 1 || pos > static_cast<int>(params_.size())) return false;
    Parameter &p = params_[static_cast<size_t>(pos - 1)];
    p.bad = value != nullptr && !ToWide(value, length, p.value);
    if (value == nullptr || p.bad) p.value.clear();
    p.indicator =
        value == nullptr || p.bad ? SQL_NULL_DATA : static_cast<SQLLEN>(p.value.size() * sizeof(SQLWCHAR));
    return !p.bad;
  }
  bool execute(std::string &error) override { return run(nullptr, error); }
  bool select(DbResultData &result, std::string &error) override { return run(&result, error); }

 private:
  bool run(DbResultData *result, std::string &error);
  OdbcConnection *owner_;
  Handle stmt_;
  std::vector<Parameter> params_;
};

class OdbcConnection final : public DbConnection {
 public:
  OdbcConnection(SQLHENV env, SQLHDBC dbc) : env_(SQL_HANDLE_ENV, env), dbc_(SQL_HANDLE_DBC, dbc) {}
  ~OdbcConnection() override {
    // An open transaction ends undone, never committed by the disconnect;
    // the driver manager refuses to disconnect while one is open.
    if (inTransaction_ || !broken_.empty()) SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
    SQLDisconnect(dbc_.get());
  }

  // Reads the engine behind the data source and sets the session up as
  // the native drivers do. False with the reason.
  bool setUp(const DbConnectParams &params, std::string &error) {
    const std::string dbms = InfoText(dbc_.get(), SQL_DBMS_NAME);
    engine_ = EngineFromName(dbms);
    isolate_ = engine_ == DB_SYNTAX_PGSQL;
    const std::string schema = QuotedIdentifier(params.schema);
    switch (engine_) {
      case DB_SYNTAX_PGSQL:
        // Quoted literals double the quote and leave backslashes alone.
        if (!execute("SET standard_conforming_strings TO on", error)) return false;
        if (!params.schema.empty() && !execute(("SET search_path TO " + schema).c_str(), error)) return false;
        break;
      case DB_SYNTAX_MYSQL:
        // The permissive mode that the server schema's statements rely
        // on, without NO_BACKSLASH_ESCAPES: quoted literals escape the
        // backslash.
        if (!execute("SET SESSION sql_mode='NO_ENGINE_SUBSTITUTION'", error)) return false;
        break;
      case DB_SYNTAX_ORACLE:
        if (!params.schema.empty() && !execute(("ALTER SESSION SET CURRENT_SCHEMA=" + schema).c_str(), error))
          return false;
        break;
      default: break;
    }
    return true;
  }
  int engine() const { return engine_; }

  bool execute(const char *query, std::string &error) override {
    return isolated([&] {
      SQLHSTMT stmt = run(query, error);
      if (stmt == SQL_NULL_HSTMT) return false;
      Handle guard(SQL_HANDLE_STMT, stmt);
      return drain(stmt, error);
    });
  }
  bool select(const char *query, DbResultData &result, std::string &error) override {
    return isolated([&] {
      SQLHSTMT stmt = run(query, error);
      if (stmt == SQL_NULL_HSTMT) return false;
      Handle guard(SQL_HANDLE_STMT, stmt);
      return readAll(stmt, result, error);
    });
  }
  std::unique_ptr<DbCursor> openCursor(const char *query, std::string &error) override {
    if (!usable(error)) return nullptr;
    const bool isolate = isolate_ && inTransaction_ && !inBulkLoad_;
    if (isolate && !takeSavepoint(error)) return nullptr;
    SQLHSTMT stmt = run(query, error);
    if (stmt == SQL_NULL_HSTMT) {
      afterFailedCursor(isolate);
      return nullptr;
    }
    auto cursor = std::make_unique<OdbcCursor>(this, stmt, isolate);
    if (!cursor->describe(error)) return nullptr;  // the cursor's destructor undoes the savepoint
    return cursor;
  }
  std::unique_ptr<DbStatement> prepare(const char *query, std::string &error) override {
    if (HoldsSecondStatement(query)) {
      error = "only one statement is allowed here";
      return nullptr;
    }
    std::unique_ptr<DbStatement> statement;
    // Describing the parameters may send the statement to the server.
    isolated([&] {
      SQLHSTMT stmt = allocate(error);
      if (stmt == SQL_NULL_HSTMT) return false;
      Handle guard(SQL_HANDLE_STMT, stmt);
      WideString text;
      if (!ToWide(query, strlen(query), text)) {
        error = "the statement is not UTF-8 text";
        return false;
      }
      SQLSMALLINT count = 0;
      if (!Succeeded(SQLPrepareW(stmt, text.data(), static_cast<SQLINTEGER>(text.size()))) ||
          !Succeeded(SQLNumParams(stmt, &count))) {
        error = guard.diagnostics();
        return false;
      }
      std::vector<Parameter> params(static_cast<size_t>(std::max<SQLSMALLINT>(count, 0)));
      for (size_t i = 0; i < params.size(); i++) {
        SQLSMALLINT type, digits, nullable;
        SQLULEN size;
        if (Succeeded(
                SQLDescribeParam(stmt, static_cast<SQLUSMALLINT>(i + 1), &type, &size, &digits, &nullable)) &&
            !IsTextType(type)) {
          params[i].type = type;
          params[i].digits = digits;
        }
      }
      // A driver that cannot describe a parameter leaves a diagnostic
      // record behind; it is no error.
      SQLFreeStmt(stmt, SQL_CLOSE);
      statement = std::make_unique<OdbcStatement>(this, guard.release(), std::move(params));
      return true;
    });
    return statement;
  }
  std::unique_ptr<DbBulkLoader> openBulkLoader(const std::string &table,
                                               const std::vector<std::string> &columns,
                                               std::string &error) override;
  bool begin(std::string &error) override {
    if (!usable(error)) return false;
    if (!Succeeded(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT,
                                      reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER))) {
      error = dbc_.diagnostics();
      return false;
    }
    inTransaction_ = true;
    savepointOpen_ = false;
    return true;
  }
  bool commit(std::string &error) override { return endTransaction(SQL_COMMIT, error); }
  bool rollback(std::string &error) override { return endTransaction(SQL_ROLLBACK, error); }
  // The statement savepoint stays open until the next statement, whose
  // release would take a part's savepoint taken after it along: it is
  // released first. Taking, releasing or going back to the part's
  // savepoint ends any statement savepoint taken inside it.
  bool savepoint(SavepointCall call, std::string &error) override {
    if (savepointOpen_ && !runAndDrain("RELEASE SAVEPOINT tvdbmgr_stmt", error)) return false;
    savepointOpen_ = false;
    if (engine_ != DB_SYNTAX_MSSQL) return runAndDrain(StandardSavepointStatement(call), error);
    switch (call) {
      case SavepointCall::kTake: return runAndDrain("SAVE TRANSACTION tvdbmgr_part", error);
      case SavepointCall::kRelease: return true;  // SQL Server has no release
      case SavepointCall::kUndo: break;
    }
    return runAndDrain("ROLLBACK TRANSACTION tvdbmgr_part", error);
  }
  // Both server drivers, as opened here, read a whole result at once.
  bool streamsRows() const override { return false; }

  // Runs work, inside a transaction on PostgreSQL behind the statement
  // savepoint: undone alone when it fails.
  bool isolated(const std::function<bool()> &work) {
    std::string ignored;
    if (!usable(ignored)) return work();  // fails at once with the reason
    if (!isolate_ || !inTransaction_ || inBulkLoad_) return work();
    std::string error;
    if (!takeSavepoint(error)) return work();
    if (work()) return true;
    undo();
    return false;
  }
  // Back to the statement savepoint after a query that failed behind it.
  void afterFailedCursor(bool isolated) {
    if (isolated && inTransaction_) undo();
  }
  // Goes back to the statement savepoint.
  void undo() {
    std::string ignored;
    SQLHSTMT stmt = run(kUndo, ignored);
    if (stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  bool takeSavepoint(std::string &error) {
    if (!runAndDrain(savepointOpen_ ? kNextSavepoint : kSavepoint, error)) return false;
    savepointOpen_ = true;
    return true;
  }
  // Runs a text whose results nobody reads; false with the reason.
  bool runAndDrain(const char *query, std::string &error) {
    SQLHSTMT stmt = run(query, error);
    if (stmt == SQL_NULL_HSTMT) return false;
    Handle guard(SQL_HANDLE_STMT, stmt);
    return drain(stmt, error);
  }
  // A new statement handle; null with the reason.
  SQLHSTMT allocate(std::string &error) {
    if (!usable(error)) return SQL_NULL_HSTMT;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc_.get(), &stmt))) {
      error = dbc_.diagnostics();
      return SQL_NULL_HSTMT;
    }
    // The text goes to the server as written: no ODBC escape clauses.
    SQLSetStmtAttrW(stmt, SQL_ATTR_NOSCAN, reinterpret_cast<SQLPOINTER>(SQL_NOSCAN_ON), SQL_IS_UINTEGER);
    return stmt;
  }
  // Runs a text on a new statement handle; null with the reason.
  SQLHSTMT run(const char *query, std::string &error) {
    SQLHSTMT stmt = allocate(error);
    if (stmt == SQL_NULL_HSTMT) return stmt;
    WideString text;
    if (!ToWide(query, strlen(query), text)) {
      error = "the statement is not UTF-8 text";
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      return SQL_NULL_HSTMT;
    }
    SQLRETURN rc = SQLExecDirectW(stmt, text.data(), static_cast<SQLINTEGER>(text.size()));
    // SQL_NO_DATA: a searched UPDATE or DELETE that touched no row.
    if (!Succeeded(rc) && rc != SQL_NO_DATA) {
      error = Diagnostics(SQL_HANDLE_STMT, stmt);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      return SQL_NULL_HSTMT;
    }
    return stmt;
  }
  // Skips the results of an executed statement, so that the error of a
  // later statement in the same text is not lost.
  static bool drain(SQLHSTMT stmt, std::string &error) {
    for (;;) {
      SQLRETURN rc = SQLMoreResults(stmt);
      if (rc == SQL_NO_DATA) return true;
      if (!Succeeded(rc)) {
        error = Diagnostics(SQL_HANDLE_STMT, stmt);
        return false;
      }
    }
  }
  // The rows of an executed statement; a statement without a result set
  // gives no columns and no rows.
  static bool readAll(SQLHSTMT stmt, DbResultData &result, std::string &error) {
    RowReader row;
    if (!row.describe(stmt, error)) return false;
    result.columns = static_cast<int>(row.names.size());
    result.names = row.names;
    if (result.columns == 0) return drain(stmt, error);
    SQLRETURN rc;
    while (Succeeded(rc = SQLFetch(stmt))) {
      if (!row.read(stmt, error)) return false;
      for (size_t c = 0; c < row.names.size(); c++)
        result.addCell(row.nulls[c] ? nullptr : row.values[c].data(), row.values[c].size());
      result.rows++;
    }
    if (rc != SQL_NO_DATA) {
      error = Diagnostics(SQL_HANDLE_STMT, stmt);
      return false;
    }
    return drain(stmt, error);
  }
  bool inTransaction() const { return inTransaction_; }
  bool isolating() const { return isolate_ && inTransaction_; }
  void setBulkLoad(bool on) { inBulkLoad_ = on; }

 private:
  // False with the reason once a transaction could not be ended: turning
  // autocommit back on would commit whatever it still holds.
  bool usable(std::string &error) {
    if (broken_.empty()) return true;
    error = broken_;
    return false;
  }
  bool endTransaction(SQLSMALLINT completion, std::string &error) {
    if (!usable(error)) return false;
    inTransaction_ = false;
    savepointOpen_ = false;
    // psqlodbc "commits" on a lost connection without a word.
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (completion == SQL_COMMIT &&
        Succeeded(
            SQLGetConnectAttrW(dbc_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr)) &&
        dead == SQL_CD_TRUE) {
      error = "the connection to the database server is lost";
      broken_ = error;
      return false;
    }
    bool ok = Succeeded(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), completion));
    if (!ok) {
      error = dbc_.diagnostics();
      // A failed commit may leave the transaction open on some engines:
      // it is rolled back before autocommit could commit it.
      if (completion == SQL_COMMIT && Succeeded(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK)))
        completion = SQL_ROLLBACK;
      else {
        broken_ = "the connection is unusable after a failed end of transaction: " + error;
        return false;
      }
    }
    if (!Succeeded(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT,
                                      reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER))) {
      if (ok) error = dbc_.diagnostics();
      broken_ = "the connection is unusable after a failed end of transaction: " + dbc_.diagnostics();
      return false;
    }
    return ok;
  }

  Handle env_;
  Handle dbc_;
  int engine_ = DB_SYNTAX_UNKNOWN;
  bool isolate_ = false;        // statements in a transaction run behind a savepoint
  bool inTransaction_ = false;  // autocommit is off
  bool savepointOpen_ = false;  // the statement savepoint exists in this transaction
  bool inBulkLoad_ = false;     // a load runs behind one savepoint of its own
  std::string broken_;
};

OdbcCursor::~OdbcCursor() {
  // The statement handle goes first: some drivers allow one active
  // statement per connection.
  SQLFreeStmt(stmt_.get(), SQL_CLOSE);
  if (failed_) owner_->afterFailedCursor(isolated_);
}

bool OdbcStatement::run(DbResultData *result, std::string &error) {
  return owner_->isolated([&] {
    SQLHSTMT stmt = stmt_.get();
    for (size_t i = 0; i < params_.size(); i++) {
      Parameter &p = params_[i];
      if (p.bad) {
        error = "parameter " + std::to_string(i + 1) + " is not UTF-8 text";
        return false;
      }
      SQLSMALLINT type = p.type;
      SQLULEN size = std::max<size_t>(p.value.size(), 1);
      // Long texts as long types: a bounded type has a maximum width on
      // some engines (4,000 characters on SQL Server).
      if (type == SQL_WVARCHAR && size > 4000) type = SQL_WLONGVARCHAR;
      if (!Succeeded(
              SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, type,
                               size, p.digits, p.indicator == SQL_NULL_DATA ? nullptr : p.value.data(),
                               static_cast<SQLLEN>(p.value.size() * sizeof(SQLWCHAR)), &p.indicator))) {
        error = stmt_.diagnostics();
        return false;
      }
    }
    SQLRETURN rc = SQLExecute(stmt);
    bool ok = Succeeded(rc) || rc == SQL_NO_DATA;
    if (!ok)
      error = stmt_.diagnostics();
    else if (result != nullptr)
      ok = OdbcConnection::readAll(stmt, *result, error);
    else
      ok = OdbcConnection::drain(stmt, error);
    SQLFreeStmt(stmt, SQL_CLOSE);
    return ok;
  });
}

// One prepared INSERT per row. On PostgreSQL inside a transaction the
// whole load runs behind one savepoint instead of one per row: a refused
// row undoes the load as a whole and the transaction goes on, as with
// the native driver's COPY.
class OdbcRowLoader final : public DbBulkLoader {
 public:
  OdbcRowLoader(OdbcConnection &conn, std::unique_ptr<DbBulkLoader> rows, bool isolated)
      : conn_(conn), rows_(std::move(rows)), isolated_(isolated) {}
  ~OdbcRowLoader() override { end(false); }
  bool addRow(const char *const *values, const size_t *lengths, std::string &error) override {
    if (failed_) {
      error = "the load has failed already";
      return false;
    }
    if (rows_->addRow(values, lengths, error)) return true;
    failed_ = true;
    end(false);
    return false;
  }
  bool finish(std::string &error) override {
    if (failed_) {
      error = "the load has failed already";
      return false;
    }
    bool ok = rows_->finish(error);
    end(ok);
    return ok;
  }

 private:
  void end(bool keep) {
    if (!isolated_) return;
    isolated_ = false;
    rows_.reset();
    conn_.setBulkLoad(false);
    if (!keep && conn_.inTransaction()) conn_.undo();
  }
  OdbcConnection &conn_;
  std::unique_ptr<DbBulkLoader> rows_;
  bool isolated_;
  bool failed_ = false;
};

std::unique_ptr<DbBulkLoader> OdbcConnection::openBulkLoader(const std::string &table,
                                                             const std::vector<std::string> &columns,
                                                             std::string &error) {
  const bool isolate = isolating() && !inBulkLoad_;
  if (isolate && !takeSavepoint(error)) return nullptr;
  inBulkLoad_ = isolate;
  std::unique_ptr<DbBulkLoader> rows = OpenRowByRowLoader(*this, table, columns, error);
  if (rows == nullptr) {
    inBulkLoad_ = false;
    if (isolate) undo();
    return nullptr;
  }
  return std::make_unique<OdbcRowLoader>(*this, std::move(rows), isolate);
}

// Connects with a connection string; false with the driver's message.
bool DriverConnect(SQLHDBC dbc, const std::string &text, std::string &error) {
  WideString wide;
  if (!ToWide(text.data(), text.size(), wide)) {
    error = "the connection settings are not UTF-8 text";
    return false;
  }
  SQLSMALLINT length = 0;
  if (Succeeded(SQLDriverConnectW(dbc, nullptr, wide.data(), static_cast<SQLSMALLINT>(wide.size()), nullptr,
                                  0, &length, SQL_DRIVER_NOPROMPT)))
    return true;
  error = Diagnostics(SQL_HANDLE_DBC, dbc);
  return false;
}

}  // namespace

bool OdbcConnectSettings(const DbConnectParams &params, std::string &connection, unsigned &loginTimeout,
                         std::string &error) {
  loginTimeout = kDefaultConnectTimeoutSeconds;
  DbConnectParams keywords = params;
  keywords.options.clear();
  for (const auto &[key, value] : params.options) {
    if (strcasecmp(key.c_str(), "connect_timeout") == 0) {
      if (!ParseDriverNumber("ODBC", key, value, 1, kMaxConnectTimeoutSeconds, loginTimeout, error))
        return false;
      continue;
    }
    unsigned number;
    if (strcasecmp(key.c_str(), "port") == 0 &&
        !ParseDriverNumber("ODBC", key, value, 1, 65535, number, error))
      return false;
    if (strcasecmp(key.c_str(), "CONN_TIMEOUT") == 0 &&
        !ParseDriverNumber("ODBC", key, value, 1, kMaxConnectTimeoutSeconds, number, error))
      return false;
    keywords.options.emplace_back(key, value);
  }
  connection = ConnectionString(keywords);
  // MariaDB's driver ignores the login timeout and waits as long as its
  // own CONN_TIMEOUT says, without end when it says nothing.
  if (!HasKeyword(connection, "CONN_TIMEOUT") && IsMariadbOdbcDriver(connection))
    connection += ";CONN_TIMEOUT=" + std::to_string(loginTimeout);
  return true;
}

std::unique_ptr<DbConnection> OdbcConnect(const DbConnectParams &params, int &engine, std::string &error) {
  SQLHENV env = SQL_NULL_HENV;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    error = "cannot initialise the ODBC driver manager";
    return nullptr;
  }
  Handle envGuard(SQL_HANDLE_ENV, env);
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!Succeeded(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
      !Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    error = envGuard.diagnostics();
    return nullptr;
  }
  Handle dbcGuard(SQL_HANDLE_DBC, dbc);
  std::string text;
  unsigned loginTimeout;
  if (!OdbcConnectSettings(params, text, loginTimeout, error)) return nullptr;
  // ODBC passes an integer attribute in the pointer argument.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  const auto timeoutValue = reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(loginTimeout));
  if (!Succeeded(SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, timeoutValue, SQL_IS_UINTEGER))) {
    error = dbcGuard.diagnostics();
    return nullptr;
  }
  if (!DriverConnect(dbc, text, error)) return nullptr;
  // psqlodbc wraps each statement of a transaction in a savepoint of its
  // own, sent in the same text; when the server rejects such a text as a
  // whole (a syntax error), it rolls the whole transaction back behind the
  // caller's back. So its own handling is turned off and the statement
  // savepoints of this driver take over. Its cursor mode stays off too:
  // it would send "WITH ... UPDATE" as a cursor, which the server refuses.
  // The last keyword wins over the settings.
  if (strcasestr(InfoText(dbc, SQL_DRIVER_NAME).c_str(), "psqlodbc") != nullptr) {
    SQLDisconnect(dbc);
    if (!DriverConnect(dbc, text + ";Protocol=7.4-0;UseDeclareFetch=0", error)) return nullptr;
  }
  auto conn = std::make_unique<OdbcConnection>(envGuard.release(), dbcGuard.release());
  if (!conn->setUp(params, error)) return nullptr;
  engine = conn->engine();
  return conn;
}
