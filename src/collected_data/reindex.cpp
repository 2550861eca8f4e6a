#include "collected_data/reindex.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "collected_data/index_catalogue.h"
#include "collected_data/templates.h"
#include "runtime/terminal.h"
#include "session/globals.h"
#include "session/lock_table.h"
#include "session/progress_line.h"
#include "session/sql_exec.h"
#include "session/table_loop.h"

namespace {

// The listing query of a table's indexes, and the column of its answer
// that names the index; empty where the dialect has no catalogue.
std::string IndexListQuery(const char *table, int &nameColumn) {
  nameColumn = 0;
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL:
      nameColumn = 2;  // Key_name
      return std::string("SHOW INDEX FROM ") + table;
    case DB_SYNTAX_PGSQL:
      return std::string(
                 "SELECT ci.relname FROM pg_index i,pg_class ci,pg_class ct WHERE i.indexrelid=ci.oid AND "
                 "i.indrelid=ct.oid AND ct.relname='") +
             table + "'";
    case DB_SYNTAX_MSSQL:
      return std::string(
                 "SELECT i.name FROM sys.indexes AS i JOIN sys.tables AS t ON t.object_id=i.object_id WHERE "
                 "t.object_id=OBJECT_ID(N'") +
             table + "','U')";
    case DB_SYNTAX_ORACLE:
      return std::string("SELECT index_name FROM user_indexes WHERE table_name=upper('") + table + "')";
    case DB_SYNTAX_SQLITE:
      return std::string("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='") + table + "'";
    default: return std::string();
  }
}

// Returns false when the loop must end (TableLoop::over).
bool DropTableIndexes(TableLoop &loop, const char *table) {
  int nameColumn;
  std::string query = IndexListQuery(table, nameColumn);
  if (query.empty()) return true;
  Result indexes = loop.select(query.c_str());
  if (indexes == nullptr) return !loop.over();
  std::string previous;
  for (int row = 0; row < DBGetNumRows(indexes.get()); row++) {
    char name[128];
    DBGetField(indexes.get(), row, nameColumn, name, sizeof(name));
    // SHOW INDEX answers one row per indexed column, and lists the
    // primary key, which is not ours to drop.
    if (DbSyntax == DB_SYNTAX_MYSQL && (name == previous || strcmp(name, "PRIMARY") == 0)) continue;
    previous = name;
    if (!loop.exec(DropIndexStatement(name, table), TableLoop::OnFailure::kReported)) return false;
  }
  return true;
}

// The statements of one table when the catalogue was read: an index that
// a template creates stays, every other index goes, and the templates
// whose index is missing run. Returns false when the loop must end.
bool ReindexWhatChanged(TableLoop &loop, const std::vector<CatalogueIndex> *indexes, const std::string &table,
                        const std::vector<std::string> &statements) {
  std::vector<bool> present(statements.size(), false);
  std::vector<std::string> drops;
  if (indexes != nullptr)
    for (const CatalogueIndex &index : *indexes) {
      bool kept = false;
      for (size_t n = 0; n < statements.size() && !kept; n++)
        if (!present[n] && IsIndexOfStatement(index, table, statements[n])) present[n] = kept = true;
      if (!kept) drops.push_back(index.name);
    }
  std::vector<std::string> creates;
  for (size_t n = 0; n < statements.size(); n++)
    if (!present[n]) creates.push_back(statements[n]);
  if (DbSyntax == DB_SYNTAX_MYSQL && drops.size() + creates.size() > 1) {
    std::string combined = CombinedIndexChange(table, drops, creates);
    if (!combined.empty()) return loop.exec(combined, TableLoop::OnFailure::kReported);
  }
  for (const std::string &index : drops)
    if (!loop.exec(DropIndexStatement(index.c_str(), table.c_str()), TableLoop::OnFailure::kReported))
      return false;
  for (const std::string &statement : creates)
    if (!loop.exec(statement, TableLoop::OnFailure::kReported)) return false;
  return true;
}

}  // namespace

bool ReindexCollectedDataTables(ReindexKind kind, bool (*goesOn)(bool succeeded)) {
  // In id order, so that a rerun of an interrupted upgrade step meets
  // the tables in the order of the first run.
  Result nodes(SelectSql("SELECT id FROM nodes ORDER BY id"));
  if (nodes == nullptr) return true;
  const std::vector<std::string> templates = ReadIndexTemplates(IndexTemplateSet::kEverySet);
  IndexCatalogue catalogue;
  bool catalogueRead = false;
  if (kind == ReindexKind::kWhatChanged && !ReadCollectedDataIndexes(catalogue, catalogueRead)) {
    if (!goesOn(false)) return false;
    catalogueRead = false;
  }
  const int count = DBGetNumRows(nodes.get());
  ProgressLine progress("Reindexing collected-data tables", "tables", static_cast<uint64_t>(count));
  // What is dropped depends on what an interrupted run left; the tables'
  // indexes end the same either way.
  RunTableLoop(
      [&nodes, &templates, &catalogue, catalogueRead, count](TableLoop &loop) {
        for (int row = 0; row < count && !TransactionRolledBackByServer(); row++) {
          int32_t id = static_cast<int32_t>(DBGetFieldULong(nodes.get(), row, 0));
          std::string table = "idata_" + std::to_string(id);
          loop.startTable("Reindexing table " + table);
          std::vector<std::string> statements;
          for (const std::string &command : templates) statements.push_back(FormatNodeTemplate(command, id));
          if (catalogueRead) {
            if (!ReindexWhatChanged(loop, IndexesOf(catalogue, table), table, statements)) return false;
          } else {
            if (!DropTableIndexes(loop, table.c_str())) return false;
            for (const std::string &statement : statements)
              if (!loop.exec(statement, TableLoop::OnFailure::kReported)) return false;
          }
        }
        return true;
      },
      {.spread = catalogueRead, .progress = &progress});
  return true;
}

bool EstimateReindexLocks(int64_t &locks) {
  RelationCount tables;
  if (!CountTableRelations(kDataTableCondition, tables)) return false;
  std::string names;
  for (int n = 0; n < kIndexTemplateSuffixes; n++)
    names += (n == 0 ? "'" : ",'") + IndexTemplateName(n) + "'";
  Result templates(SelectSql(("SELECT count(*) FROM metadata WHERE var_name IN (" + names + ")").c_str()));
  if (templates == nullptr) return false;
  locks = tables.relations + tables.tables * DBGetFieldInt64(templates.get(), 0, 0);
  return true;
}

// MySQL scopes index names per table and wants the table in the drop;
// its "DROP INDEX ... FROM" form is not SQL it accepts.
std::string DropIndexStatement(const char *index, const char *table) {
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL:
    case DB_SYNTAX_MSSQL: return std::string("DROP INDEX ") + index + " ON " + table;
    case DB_SYNTAX_PGSQL: return std::string("DROP INDEX ") + index + " CASCADE";
    default: return std::string("DROP INDEX ") + index;
  }
}
