#include "collected_data/index_catalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <regex>

#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

// Table, index, unique (1/0), plain (1/0), columns.
const char *CatalogueQuery() {
  switch (DbSyntax) {
    case DB_SYNTAX_PGSQL:
      return "SELECT ct.relname,ci.relname,CASE WHEN i.indisunique THEN 1 ELSE 0 END,"
             "CASE WHEN i.indexprs IS NULL AND i.indpred IS NULL AND am.amname='btree' THEN 1 ELSE 0 END,"
             "(SELECT string_agg(a.attname,',' ORDER BY k.n) FROM unnest(i.indkey::int2[]) WITH ORDINALITY "
             "AS k(attnum,n) JOIN pg_attribute a ON a.attrelid=ct.oid AND a.attnum=k.attnum) "
             "FROM pg_index i JOIN pg_class ci ON ci.oid=i.indexrelid JOIN pg_class ct ON ct.oid=i.indrelid "
             "JOIN pg_am am ON am.oid=ci.relam "
             "WHERE ct.relname ~ '^idata_[0-9]+$' AND pg_table_is_visible(ct.oid) AND NOT i.indisprimary";
    case DB_SYNTAX_MYSQL:
      return "SELECT table_name,index_name,MAX(1-non_unique),"
             "CASE WHEN MAX(sub_part) IS NULL AND MAX(index_type)='BTREE' THEN 1 ELSE 0 END,"
             "GROUP_CONCAT(column_name ORDER BY seq_in_index SEPARATOR ',') "
             "FROM information_schema.statistics "
             "WHERE table_schema=DATABASE() AND table_name REGEXP '^idata_[0-9]+$' AND index_name<>'PRIMARY' "
             "GROUP BY table_name,index_name";
    case DB_SYNTAX_SQLITE:
      return "SELECT m.tbl_name,m.name,l.\"unique\",CASE WHEN l.partial=0 AND l.origin='c' THEN 1 ELSE 0 END,"
             "(SELECT group_concat(c.name,',') FROM (SELECT name FROM pragma_index_info(m.name) ORDER BY seqno) c) "
             "FROM sqlite_master m JOIN pragma_index_list(m.tbl_name) l ON l.name=m.name "
             "WHERE m.type='index' AND m.tbl_name GLOB 'idata_[0-9]*' AND l.origin<>'pk'";
    default: return nullptr;
  }
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Field(db_result_t result, int row, int column) {
  char *value = DBGetField(result, row, column, nullptr, 0);
  std::string text = value;
  free(value);
  return text;
}

}  // namespace

bool ReadCollectedDataIndexes(IndexCatalogue &catalogue, bool &read) {
  const char *query = CatalogueQuery();
  read = query != nullptr;
  if (!read) return true;
  Result indexes(SelectSql(query));
  if (indexes == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(indexes.get()); row++)
    catalogue[Field(indexes.get(), row, 0)].push_back(
        {Field(indexes.get(), row, 1), DBGetFieldLong(indexes.get(), row, 2) != 0,
         DBGetFieldLong(indexes.get(), row, 3) != 0, Field(indexes.get(), row, 4)});
  return true;
}

namespace {

// A statement "CREATE [UNIQUE] INDEX name ON table(columns)", its columns
// without blanks.
struct PlainCreateIndex {
  bool unique = false;
  std::string name;
  std::string table;
  std::string columns;
};

bool ParseCreateIndex(const std::string &statement, PlainCreateIndex &parsed) {
  static const std::regex kCreateIndex(
      R"(^\s*CREATE\s+(UNIQUE\s+)?INDEX\s+(\w+)\s+ON\s+(\w+)\s*\(([\w\s,]*)\)\s*$)", std::regex::icase);
  std::smatch m;
  if (!std::regex_match(statement, m, kCreateIndex)) return false;
  parsed = {m[1].matched, m[2].str(), m[3].str(), m[4].str()};
  parsed.columns.erase(std::remove_if(parsed.columns.begin(), parsed.columns.end(),
                                      [](unsigned char c) { return std::isspace(c); }),
                       parsed.columns.end());
  return true;
}

}  // namespace

bool IsIndexOfStatement(const CatalogueIndex &index, const std::string &table, const std::string &statement) {
  PlainCreateIndex create;
  if (!index.plain || !ParseCreateIndex(statement, create)) return false;
  return create.unique == index.unique && Lower(create.name) == Lower(index.name) &&
         Lower(create.table) == Lower(table) && Lower(create.columns) == Lower(index.columns);
}

std::string CombinedIndexChange(const std::string &table, const std::vector<std::string> &drops,
                                const std::vector<std::string> &creates) {
  std::string statement = "ALTER TABLE " + table;
  char separator = ' ';
  for (const std::string &index : drops) {
    statement += separator + ("DROP INDEX " + index);
    separator = ',';
  }
  for (const std::string &text : creates) {
    PlainCreateIndex create;
    if (!ParseCreateIndex(text, create) || Lower(create.table) != Lower(table)) return std::string();
    statement += separator + std::string(create.unique ? "ADD UNIQUE INDEX " : "ADD INDEX ") + create.name +
                 " (" + create.columns + ")";
    separator = ',';
  }
  return statement;
}

const std::vector<CatalogueIndex> *IndexesOf(const IndexCatalogue &catalogue, const std::string &table) {
  auto indexes = catalogue.find(table);
  return indexes != catalogue.end() ? &indexes->second : nullptr;
}
