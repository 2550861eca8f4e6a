#include "catalogue.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "fixtures.h"

namespace upgradetest {
namespace {

std::vector<std::string> Lines(const std::string &rows) {
  std::vector<std::string> lines;
  std::stringstream in(rows);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return tolower(c); });
  return text;
}

// "index table name columns" for a plain index; a primary key or unique
// index goes by its columns alone.
std::string IndexLine(const std::string &table, const std::string &name, bool primary, bool unique,
                      const std::string &columns) {
  std::string kind = primary ? "primary" : unique ? "unique" : Lower(name);
  return "index " + Lower(table) + " " + kind + " " + Lower(columns);
}

// table|name|primary|unique|columns rows of every index.
std::string IndexQuery(const std::string &engine) {
  if (engine == "sqlite")
    return "SELECT m.name,il.name,il.origin='pk',il.\"unique\","
           "(SELECT group_concat(c.name) FROM (SELECT name FROM pragma_index_info(il.name) ORDER BY seqno) c) "
           "FROM sqlite_master m JOIN pragma_index_list(m.name) il WHERE m.type='table'";
  if (engine == "pgsql")
    return "SELECT t.relname,i.relname,CASE WHEN ix.indisprimary THEN 1 ELSE 0 END,"
           "CASE WHEN ix.indisunique THEN 1 ELSE 0 END,"
           "array_to_string(array(SELECT a.attname FROM unnest(ix.indkey::int2[]) WITH ORDINALITY k(attnum,n) "
           "JOIN pg_attribute a ON a.attrelid=t.oid AND a.attnum=k.attnum ORDER BY k.n),',') "
           "FROM pg_index ix JOIN pg_class t ON t.oid=ix.indrelid JOIN pg_class i ON i.oid=ix.indexrelid "
           "JOIN pg_namespace n ON n.oid=t.relnamespace WHERE n.nspname=current_schema()";
  return "SELECT table_name,index_name,index_name='PRIMARY',1-max(non_unique),"
         "group_concat(column_name ORDER BY seq_in_index) FROM information_schema.statistics "
         "WHERE table_schema=database() GROUP BY table_name,index_name";
}

std::string TableQuery(const std::string &engine) {
  if (engine == "sqlite") return "SELECT name FROM sqlite_master WHERE type='table'";
  if (engine == "pgsql")
    return "SELECT table_name FROM information_schema.tables WHERE table_schema=current_schema()";
  return "SELECT table_name FROM information_schema.tables WHERE table_schema=database()";
}

void ReplaceAll(std::string &text, const std::string &what, const std::string &with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

}  // namespace

std::set<std::string> TableNames(tvtest::TestDatabase &db) {
  std::set<std::string> names;
  for (const std::string &name : Lines(db.rows(TableQuery(db.engine())))) names.insert(Lower(name));
  return names;
}

std::set<std::string> Catalogue(tvtest::TestDatabase &db) {
  std::set<std::string> lines;
  for (const std::string &column : Lines(SchemaColumns(db))) lines.insert(column);
  for (const std::string &row : Lines(db.rows(IndexQuery(db.engine())))) {
    std::vector<std::string> f;
    std::stringstream in(row);
    for (std::string field; std::getline(in, field, '|');) f.push_back(field);
    f.resize(5);
    lines.insert(IndexLine(f[0], f[1], f[2] == "1" || f[2] == "t", f[3] == "1" || f[3] == "t", f[4]));
  }
  return lines;
}

std::set<std::string> FreshCatalogue(const std::string &engine, const std::set<int> &nodeIds) {
  auto db = tvtest::OpenOrSkip(engine);
  if (!db || !db->initSchema()) return {};
  std::vector<std::string> templates = {
      db->value("SELECT var_value FROM metadata WHERE var_name='IDataTableCreationCommand'")};
  for (const std::string &index :
       Lines(db->rows("SELECT var_value FROM metadata WHERE var_name LIKE 'IDataIndexCreationCommand_%' "
                      "ORDER BY var_name")))
    templates.push_back(index);
  for (int id : nodeIds)
    for (std::string statement : templates) {
      ReplaceAll(statement, "%d", std::to_string(id));
      db->exec(statement);
    }
  if (engine == "mysql") db->reconnect();
  return Catalogue(*db);
}

std::set<std::string> DocumentedMissingLines() {
  std::set<std::string> lines;
  // Lost by the rebuild of address_lists in 80 -> 81; only reindex brings
  // it back.
  lines.insert(IndexLine("address_lists", "idx_address_lists_list_type", false, false, "list_type"));
  // The indexes of the check's per-node lookups: no step creates them.
  const char *const lookups[][3] = {{"nsmap", "idx_nsmap_node_id", "node_id"},
                                    {"container_members", "idx_container_members_object_id", "object_id"},
                                    {"cluster_members", "idx_cluster_members_node_id", "node_id"},
                                    {"interfaces", "idx_interfaces_node_id", "node_id"},
                                    {"network_services", "idx_network_services_node_id", "node_id"}};
  for (const auto &index : lookups) lines.insert(IndexLine(index[0], index[1], false, false, index[2]));
  return lines;
}

std::string CatalogueDifferences(const std::set<std::string> &upgraded, const std::set<std::string> &fresh,
                                 const std::set<std::string> &mayLack) {
  std::string out;
  for (const std::string &line : fresh)
    if (!upgraded.count(line) && !mayLack.count(line)) out += "- " + line + "\n";
  for (const std::string &line : upgraded)
    if (!fresh.count(line)) out += "+ " + line + "\n";
  return out;
}

std::string WithoutGeneratedValues(const std::string &text) {
  // A scan rather than std::regex, which takes seconds over the rows of a
  // network.
  auto isHex = [&](size_t i) { return i < text.size() && isxdigit(static_cast<unsigned char>(text[i])); };
  auto isDigit = [&](size_t i) { return i < text.size() && isdigit(static_cast<unsigned char>(text[i])); };
  auto run = [](size_t from, auto &&is) {
    size_t end = from;
    while (is(end)) end++;
    return end - from;
  };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const bool wordStart = i == 0 || !isalnum(static_cast<unsigned char>(text[i - 1]));
    if (wordStart && run(i, isHex) == 8 && text.compare(i + 8, 1, "-") == 0 && run(i + 9, isHex) == 4 &&
        text.compare(i + 13, 1, "-") == 0 && run(i + 14, isHex) == 4 && text.compare(i + 18, 1, "-") == 0 &&
        run(i + 19, isHex) == 4 && text.compare(i + 23, 1, "-") == 0 && run(i + 24, isHex) == 12) {
      out += "<guid>";
      i += 36;
    } else if (wordStart && run(i, isDigit) == 10 &&
               !isalnum(static_cast<unsigned char>(i + 10 < text.size() ? text[i + 10] : ' '))) {
      out += "<time>";
      i += 10;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::map<std::string, std::string> RowsWithoutGeneratedValues(const DatabaseState &state) {
  std::map<std::string, std::string> rows;
  for (const auto &[table, text] : state.rows) rows[table] = WithoutGeneratedValues(text);
  return rows;
}

DatabaseState TakeState(tvtest::TestDatabase &db) {
  DatabaseState state;
  state.version = DBGetSchemaVersion(db.handle());
  state.catalogue = Catalogue(db);
  for (const std::string &table : TableNames(db)) {
    std::vector<std::string> rows = Lines(db.rows("SELECT * FROM " + table));
    std::sort(rows.begin(), rows.end());
    std::string joined;
    for (const std::string &row : rows) joined += row + "\n";
    state.rows[table] = joined;
  }
  return state;
}

std::string StateDifferences(const DatabaseState &before, const DatabaseState &after) {
  std::string out;
  if (before.version != after.version)
    out += "version " + std::to_string(before.version) + " -> " + std::to_string(after.version) + "\n";
  out += CatalogueDifferences(after.catalogue, before.catalogue);
  for (const auto &[table, rows] : before.rows) {
    auto other = after.rows.find(table);
    if (other == after.rows.end()) continue;  // the catalogue tells
    if (other->second != rows) out += "rows of " + table + ":\n" + rows + "now:\n" + other->second;
  }
  return out;
}

void ExpectSameAsReference(tvtest::TestDatabase &db, tvtest::TestDatabase &reference) {
  const DatabaseState state = TakeState(db), expected = TakeState(reference);
  EXPECT_EQ(state.version, expected.version);
  EXPECT_EQ(CatalogueDifferences(state.catalogue, expected.catalogue), "");
  const auto rows = RowsWithoutGeneratedValues(state);
  for (const auto &[table, expectedRows] : RowsWithoutGeneratedValues(expected))
    EXPECT_EQ(rows.count(table) ? rows.at(table) : "<no table>", expectedRows) << table;
}

}  // namespace upgradetest
