#include "session/batch.h"

#include <string>

#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

struct TypeMacros {
  const char *text;
  const char *text4k;
  const char *int64;
};

const TypeMacros TypeMacroTable[6] = {
    {"text", "text", "bigint"},                   // MySQL
    {"text", "varchar(4000)", "bigint"},          // PostgreSQL
    {"text", "varchar(4000)", "bigint"},          // Microsoft SQL Server
    {"clob", "varchar(4000)", "number(20)"},      // Oracle
    {"varchar", "varchar(4000)", "number(20)"},   // SQLite
    {"long varchar", "varchar(4000)", "bigint"},  // DB2
};

}  // namespace

String ExpandTypeMacros(const char *text) {
  // The longer macro goes first so that "$SQL:TEXT" does not eat its head.
  const TypeMacros &row = TypeMacroTable[DbSyntax >= 0 && DbSyntax < 6 ? DbSyntax : 0];
  String s(text);
  s.translate("$SQL:TEXT4K", row.text4k);
  s.translate("$SQL:TEXT", row.text);
  s.translate("$SQL:INT64", row.int64);
  return s;
}

bool ExecSqlBatch(const char *batch, TableLoop::OnFailure rule) {
  String expanded = ExpandTypeMacros(batch);
  const std::string &work = expanded.str();
  size_t pos = 0;
  while (pos < work.size()) {
    size_t end = work.find('\n', pos);
    if (end == std::string::npos) end = work.size();
    std::string line = work.substr(pos, end - pos);
    if (line == "<END>") return true;
    // An empty line is sent like any other statement.
    if (!SendSql(line.c_str(), QueryEcho::kTraced) && rule == TableLoop::OnFailure::kEnds) return false;
    pos = end + 1;
  }
  // Built-in texts always end with "<END>"; one without it ends here.
  return true;
}

bool CreateTableSql(const char *statement) {
  String s = ExpandTypeMacros(statement);
  if (DbSyntax == 0) {
    // Today's MySQL and MariaDB servers only know ENGINE=; TYPE= was
    // removed from both long ago.
    if (TableType == MysqlTableType::kInnoDb)
      s += " ENGINE=InnoDB";
    else if (TableType == MysqlTableType::kMyIsam)
      s += " ENGINE=MyISAM";
  }
  return ExecSql(s);
}
