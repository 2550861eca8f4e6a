#include "session/key_blocks.h"

#include "session/globals.h"

std::string LimitedSelect(const char *columns, const char *from, const std::string &where, const char *order,
                          int rows) {
  const std::string condition = where.empty() ? "" : " WHERE " + where;
  const std::string limit = std::to_string(rows);
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL:
    case DB_SYNTAX_PGSQL:
    case DB_SYNTAX_SQLITE:
      return std::string("SELECT ") + columns + " FROM " + from + condition + " ORDER BY " + order +
             " LIMIT " + limit;
    case DB_SYNTAX_MSSQL:
      return "SELECT TOP " + limit + " " + columns + " FROM " + from + condition + " ORDER BY " + order;
    case DB_SYNTAX_ORACLE:
      return std::string("SELECT * FROM (SELECT ") + columns + " FROM " + from + condition + " ORDER BY " +
             order + ") WHERE ROWNUM<=" + limit;
    default: return std::string("SELECT ") + columns + " FROM " + from + condition + " ORDER BY " + order;
  }
}

bool DialectLimitsRows() {
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL:
    case DB_SYNTAX_PGSQL:
    case DB_SYNTAX_SQLITE:
    case DB_SYNTAX_MSSQL:
    case DB_SYNTAX_ORACLE: return true;
    default: return false;
  }
}
