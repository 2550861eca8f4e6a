#include "session/batch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/runtime.h"
#include "session/commands.h"
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

struct FreeDeleter {
  void operator()(char *p) const { free(p); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

bool IsBlank(const char *begin, const char *end) {
  for (const char *p = begin; p < end; p++)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  return true;
}

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

bool ExecSqlBatch(const char *batch) {
  String expanded = ExpandTypeMacros(batch);
  const std::string &work = expanded.str();
  size_t pos = 0;
  while (pos < work.size()) {
    size_t end = work.find('\n', pos);
    if (end == std::string::npos) end = work.size();
    std::string line = work.substr(pos, end - pos);
    if (line == "<END>") return true;
    // An empty line is sent like any other statement.
    if (!SendSql(line.c_str(), QueryEcho::kTraced) && !IgnoreSqlErrors) return false;
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

bool RunBatchCommand(const char *path) {
  uint32_t size;
  MallocText file(LoadFileA(path, &size));
  if (file == nullptr) {
    printf("ERROR: Cannot load SQL command file %s\n", path);
    return false;
  }
  // A NUL byte would end the text there and leave the rest of the file
  // unrun without a word (it also marks a file saved as UTF-16), so such
  // a file is refused before its first statement.
  const char *text = file.get();
  const char *end = text + size;
  if (const char *nul = static_cast<const char *>(memchr(text, 0, size)); nul != nullptr) {
    printf("ERROR: SQL command file %s holds a NUL byte at line %zu\n", path,
           static_cast<size_t>(std::count(text, nul, '\n')) + 1);
    return false;
  }
  bool result = false;
  for (const char *begin = text; begin < end;) {
    bool quoted = false;
    const char *p = begin;
    for (; p < end; p++) {
      if (*p == '\'')
        quoted = !quoted;
      else if (*p == ';' && !quoted)
        break;
    }
    if (!IsBlank(begin, p)) {
      std::string statement(begin, p);
      MallocText converted(WideStringFromMBString(statement.c_str()));
      if (converted == nullptr || converted.get()[0] == 0) {
        result = true;
      } else {
        result = SendSql(converted.get(), QueryEcho::kTraced);
        if (!result) break;
      }
    }
    begin = p < end ? p + 1 : end;
  }
  return result;
}
