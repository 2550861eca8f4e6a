// What the import reads from the connected database itself: the column
// definitions of a target table, the node ids, and the templates of the
// collected-data tables.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "collected_data/templates.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "transfer/import_steps.h"

namespace {

// Text types: PostgreSQL's string category (text, varchar, char), the
// MySQL character types, and on SQLite a declared type of text affinity.
std::string NotNullTextQuery(const std::string &table) {
  switch (DBGetEngine(DbHandle)) {
    case DB_SYNTAX_PGSQL:
      // The cast resolves the name along the search path, as the INSERT does.
      return "SELECT a.attname FROM pg_attribute a JOIN pg_type t ON t.oid=a.atttypid WHERE a.attrelid='" +
             table +
             "'::regclass AND a.attnum>0 AND NOT a.attisdropped AND a.attnotnull AND t.typcategory='S'";
    case DB_SYNTAX_MYSQL:
      return "SELECT column_name FROM information_schema.columns WHERE table_schema=DATABASE() AND "
             "table_name='" +
             table +
             "' AND is_nullable='NO' AND data_type IN ('char','varchar','tinytext','text','mediumtext',"
             "'longtext')";
    default:
      return "SELECT name FROM pragma_table_info('" + table +
             "') WHERE \"notnull\" AND upper(type) NOT LIKE '%INT%' AND (upper(type) LIKE '%CHAR%' OR "
             "upper(type) LIKE '%CLOB%' OR upper(type) LIKE '%TEXT%')";
  }
}

}  // namespace

bool ReadNotNullTextColumns(const char *table, std::vector<std::string> &columns) {
  Result result(SelectSql(NotNullTextQuery(table).c_str()));
  if (result == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(result.get()); row++) {
    char *name = DBGetField(result.get(), row, 0, nullptr, 0);
    columns.emplace_back(name);
    free(name);
  }
  return true;
}

bool ReadNodeIds(const char *table, std::vector<int32_t> &ids) {
  Result nodes(SelectSql((std::string("SELECT id FROM ") + table).c_str()));
  if (nodes == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(nodes.get()); row++)
    ids.push_back(DBGetFieldLong(nodes.get(), row, 0));
  return true;
}

bool ReadDataTableTemplates(DataTableTemplates &templates) {
  if (ReadServerVariable("metadata", "IDataTableCreationCommand", templates.table, QueryEcho::kTraced) !=
      VariableRead::kFound) {
    printf("ERROR: unable to determine correct query for idata tables creation\n");
    return false;
  }
  templates.indexes = ReadIndexTemplates(IndexTemplateSet::kConsecutive);
  return true;
}

void PrintEmptiedNulls(const EmptiedNulls &counts) {
  for (const auto &[table, count] : counts)
    printf("Table %s: %llu NULL value%s stored as empty text in NOT NULL columns\n", table.c_str(),
           static_cast<unsigned long long>(count), count == 1 ? "" : "s");
}
