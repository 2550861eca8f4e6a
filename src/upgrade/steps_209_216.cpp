// Steps 209 -> 216: the index template of the collected-data tables per
// dialect, DCI status events, plain storage of trap, item, script, raw
// and collected value texts and of the policy texts, the network map
// tables, and a GUID for every object.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "collected_data/reindex.h"
#include "runtime/runtime.h"
#include "runtime/tv_string.h"
#include "session/globals.h"
#include "session/lock_table.h"
#include "session/progress_line.h"
#include "session/sql_exec.h"
#include "session/table_loop.h"
#include "upgrade/helpers.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

// A failed index is reported by the reindex and never ends the step; the
// indexes go by the names the catalogue gives, whatever step made them,
// and one that 52 -> 53 made under the template's name and definition
// stays (on PostgreSQL and MySQL/MariaDB the template is the same). A
// catalogue that cannot be read ends the step (under -X every table is
// reindexed whole), as does a reindex too large for PostgreSQL's lock
// table, which is not started (under -X the step goes on without it).
bool ReindexDataTables() {
  if (!CheckLockTableRoom("this upgrade step", EstimateReindexLocks)) return false;
  return ReindexCollectedDataTables(ReindexKind::kWhatChanged, StepGoesOn);
}

// Every %d of the template takes the node id. Between "(var_name,var_value)"
// and "VALUES" stands one tab.
constexpr Action kStep209[] = {
    Statement{"DELETE FROM metadata WHERE var_name like 'IDataIndexCreationCommand_%'"},
    PerDialect{.mysql = "INSERT INTO metadata (var_name,var_value)\t"
                        "VALUES ('IDataIndexCreationCommand_0',"
                        "'CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)')",
               .pgsql = "INSERT INTO metadata (var_name,var_value)\t"
                        "VALUES ('IDataIndexCreationCommand_0',"
                        "'CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)')",
               .mssql =
                   "INSERT INTO metadata (var_name,var_value)\t"
                   "VALUES ('IDataIndexCreationCommand_0',"
                   "'CREATE CLUSTERED INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)')",
               .oracle = "INSERT INTO metadata (var_name,var_value)\t"
                         "VALUES ('IDataIndexCreationCommand_0',"
                         "'CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)')",
               .sqlite = "INSERT INTO metadata (var_name,var_value)\t"
                         "VALUES ('IDataIndexCreationCommand_0',"
                         "'CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)')",
               .other = "INSERT INTO metadata (var_name,var_value)\t"
                        "VALUES ('IDataIndexCreationCommand_0',"
                        "'CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)')"},
    Conversion{ReindexDataTables},
};

constexpr Action kStep210[] = {
    EventTemplate{53, "SYS_DCI_UNSUPPORTED", 2, "Status of DCI %1 (%5: %2) changed to UNSUPPORTED",
                  "Generated when DCI status changed to UNSUPPORTED.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) DCI ID#0D#0A"
                  "   2) DCI Name#0D#0A"
                  "   3) DCI Description#0D#0A"
                  "   4) DCI Origin code#0D#0A"
                  "   5) DCI Origin name",
                  TextForm::kStored},
    EventTemplate{54, "SYS_DCI_DISABLED", 1, "Status of DCI %1 (%5: %2) changed to DISABLED",
                  "Generated when DCI status changed to DISABLED.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) DCI ID#0D#0A"
                  "   2) DCI Name#0D#0A"
                  "   3) DCI Description#0D#0A"
                  "   4) DCI Origin code#0D#0A"
                  "   5) DCI Origin name",
                  TextForm::kStored},
    EventTemplate{55, "SYS_DCI_ACTIVE", 0, "Status of DCI %1 (%5: %2) changed to ACTIVE",
                  "Generated when DCI status changed to ACTIVE.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) DCI ID#0D#0A"
                  "   2) DCI Name#0D#0A"
                  "   3) DCI Description#0D#0A"
                  "   4) DCI Origin code#0D#0A"
                  "   5) DCI Origin name",
                  TextForm::kStored},
};

// snmp_oid is relaxed but keeps its text as it is.
constexpr Action kStep211[] = {
    NullableColumn{"snmp_trap_cfg", "snmp_oid", "varchar(255)"},
    NullableColumn{"snmp_trap_cfg", "user_tag", "varchar(63)"},
    NullableColumn{"snmp_trap_cfg", "description", "varchar(255)"},
    RecodedColumn{"snmp_trap_cfg", "trap_id", "user_tag"},
    RecodedColumn{"snmp_trap_cfg", "trap_id", "description"},
};

constexpr Action kStep212[] = {
    NullableColumn{"items", "custom_units_name", "varchar(63)"},
    NullableColumn{"items", "perftab_settings", "$SQL:TEXT"},
    RecodedColumn{"items", "item_id", "custom_units_name"},
    RecodedColumn{"items", "item_id", "perftab_settings"},
};

// On Oracle an empty text is NULL, so a decoded "#00" needs a nullable
// column in every node's table. A node list that cannot be read is
// reported and the step goes on without it; returns false when a table
// could not be changed and the step must end.
bool MakeDataValuesNullable() {
  return StepForEachRow(
      "id", "nodes", nullptr,
      [](db_result_t nodes, int row) {
        char table[32];
        snprintf(table, sizeof(table), "idata_%d", static_cast<int32_t>(DBGetFieldULong(nodes, row, 0)));
        return StepGoesOn(MakeColumnNullable(table, "idata_value", "varchar(255)"));
      },
      FailedRead::kGoesOn);
}

// Where the dialect can limit a query's rows, an item's values are read
// one page at a time so that memory does not grow with the table, and
// written back in multi-row updates.
bool PagesValues() {
  return DbSyntax == DB_SYNTAX_MYSQL || DbSyntax == DB_SYNTAX_PGSQL || DbSyntax == DB_SYNTAX_SQLITE;
}
constexpr int kValuePageRows = 10000;
// Most node tables hold no value with "#" at all: their first pages are
// read kTablesPerRead tables to a query, kFirstPageRows rows of each, so
// that the read of a group is no larger than a page.
constexpr size_t kTablesPerRead = 50;
constexpr int kFirstPageRows = kValuePageRows / static_cast<int>(kTablesPerRead);
constexpr int kValueUpdateRows = 1000;
constexpr size_t kValueUpdateBytes = 1 << 20;
// Oracle takes at most 1,000 expressions in an IN list.
constexpr size_t kKeyTextsPerUpdate = 1000;

// Where a value stands: an item and a time stamp.
struct ValueKey {
  int32_t item;
  int64_t timestamp;
  auto operator<=>(const ValueKey &) const = default;
};

ValueKey KeyOfRow(db_result_t page, int row) {
  return {static_cast<int32_t>(DBGetFieldULong(page, row, 0)), DBGetFieldInt64(page, row, 1)};
}

// A stored text and what it decodes to, both as literals.
struct Recoding {
  String stored;
  String decoded;
  size_t storedBytes;  // unquoted
};

// Writes decoded values of one node's text items back, a key (item and
// time stamp) at a time. The table has no key of its own, so a row is
// found by its key and stored text, and one key may hold several values,
// one of which may decode to another's stored text ("#2341" to "#41",
// which decodes to "A"): all texts of a key go in one statement, which
// sees every row as it was before it, so that no decoded row is taken
// for a stored one. A value without "#" beside them is left alone.
class ValueWriter {
 public:
  ValueWriter(TableLoop &loop, int32_t nodeId) : loop_(loop), nodeId_(nodeId) {}

  // Returns false when the step must end (reported).
  bool add(const ValueKey &key, const std::vector<Recoding> &texts) {
    if (!PagesValues()) return updateKey(key, texts);
    // A full statement goes before the next key, never inside one.
    if ((rows_ >= kValueUpdateRows || values_.size() >= kValueUpdateBytes) && !flush()) return false;
    std::string i = std::to_string(key.item), t = std::to_string(key.timestamp);
    for (const Recoding &text : texts) {
      // MySQL has no VALUES list usable as a table in every version: a
      // UNION ALL of one-row SELECTs names the columns in its first row.
      if (DbSyntax == DB_SYNTAX_MYSQL)
        values_ += rows_ == 0 ? "SELECT " + i + " AS i," + t + " AS t," + text.stored.str() + " AS o," +
                                    text.decoded.str() + " AS c"
                              : " UNION ALL SELECT " + i + "," + t + "," + text.stored.str() + "," +
                                    text.decoded.str();
      else
        values_ += (rows_ == 0 ? "(" : ",(") + i + "," + t + "," + text.stored.str() + "," +
                   text.decoded.str() + ")";
      rows_++;
    }
    return true;
  }

  // Sends what add collected; false when the step must end (reported).
  bool flush() {
    if (rows_ == 0) return true;
    String statement;
    if (DbSyntax == DB_SYNTAX_MYSQL)
      statement.addFormattedString(
          "UPDATE idata_%d JOIN (%s) AS v ON idata_%d.item_id=v.i AND idata_%d.idata_timestamp=v.t "
          "AND idata_%d.idata_value=v.o SET idata_%d.idata_value=v.c",
          nodeId_, values_.c_str(), nodeId_, nodeId_, nodeId_, nodeId_);
    else
      statement.addFormattedString(
          "WITH v(i,t,o,c) AS (VALUES %s) UPDATE idata_%d SET idata_value=v.c FROM v WHERE "
          "idata_%d.item_id=v.i AND idata_%d.idata_timestamp=v.t AND idata_%d.idata_value=v.o",
          values_.c_str(), nodeId_, nodeId_, nodeId_, nodeId_);
    rows_ = 0;
    values_.clear();
    return loop_.exec(statement.cstr(), StepRule());
  }

 private:
  // One statement per key on the dialects without the multi-row form: a
  // key of one text as the step writes it, one of several texts with a
  // CASE over them. Texts alike are sent once. More texts than an IN list
  // takes go in several statements, the shorter stored texts first: a
  // decoded text is shorter than its stored one or the same text, so no
  // later statement finds a text that an earlier one wrote.
  bool updateKey(const ValueKey &key, std::vector<Recoding> texts) {
    std::stable_sort(texts.begin(), texts.end(),
                     [](const Recoding &a, const Recoding &b) { return a.storedBytes < b.storedBytes; });
    std::vector<const Recoding *> distinct;
    std::set<std::string_view> seen;
    for (const Recoding &text : texts)
      if (seen.insert(text.stored.str()).second) distinct.push_back(&text);
    for (size_t first = 0; first < distinct.size(); first += kKeyTextsPerUpdate) {
      const size_t end = std::min(distinct.size(), first + kKeyTextsPerUpdate);
      String statement;
      if (end - first == 1) {
        statement.addFormattedString(
            "UPDATE idata_%d SET idata_value=%s WHERE item_id=%d AND idata_timestamp=%lld AND idata_value=%s",
            nodeId_, distinct[first]->decoded.cstr(), key.item, static_cast<long long>(key.timestamp),
            distinct[first]->stored.cstr());
      } else {
        std::string cases, stored;
        for (size_t n = first; n < end; n++) {
          cases += " WHEN " + distinct[n]->stored.str() + " THEN " + distinct[n]->decoded.str();
          stored += (n == first ? "" : ",") + distinct[n]->stored.str();
        }
        statement.addFormattedString(
            "UPDATE idata_%d SET idata_value=CASE idata_value%s END WHERE item_id=%d AND idata_timestamp=%lld "
            "AND idata_value IN (%s)",
            nodeId_, cases.c_str(), key.item, static_cast<long long>(key.timestamp), stored.c_str());
      }
      if (!loop_.exec(statement.cstr(), StepRule())) return false;
    }
    return true;
  }

  TableLoop &loop_;
  int32_t nodeId_;
  std::string values_;
  int rows_ = 0;
};

// Decodes the given rows of a value page (item, time stamp, text) into
// the writer, key by key in the order the rows first name them (a page
// read without a row limit comes in no order). Returns false when the
// step must end.
bool RecodeValueRows(db_result_t page, const std::vector<int> &pageRows, ValueWriter &writer) {
  struct Row {
    ValueKey key;
    size_t group;  // the first row of its key
    Recoding text;
  };
  std::vector<Row> rows;
  std::map<ValueKey, size_t> groupOfKey;
  for (int row : pageRows) {
    char *stored = DBGetField(page, row, 2, nullptr, 0);
    std::string text(stored);
    free(stored);
    if (text.find('#') == std::string::npos) continue;
    String storedLiteral = DBPrepareString(DbHandle, text.c_str(), -1);
    const size_t storedBytes = text.size();
    DecodeSQLString(text.data());
    text.resize(strlen(text.c_str()));
    ValueKey key = KeyOfRow(page, row);
    size_t group = groupOfKey.try_emplace(key, rows.size()).first->second;
    rows.push_back({key, group, {storedLiteral, DBPrepareString(DbHandle, text.c_str(), -1), storedBytes}});
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.group < b.group; });
  std::vector<Recoding> texts;
  for (size_t first = 0; first < rows.size();) {
    texts.clear();
    size_t end = first;
    for (; end < rows.size() && rows[end].group == rows[first].group; end++)
      texts.push_back(std::move(rows[end].text));
    if (!writer.add(rows[first].key, texts)) return false;
    first = end;
  }
  return true;
}

// Rows 0 to count - 1 of a page.
std::vector<int> FirstRows(int count) {
  std::vector<int> rows(static_cast<size_t>(count));
  std::iota(rows.begin(), rows.end(), 0);
  return rows;
}

// Where the values holding "#" of a node's text items are.
std::string ValueSource(int32_t nodeId, const std::string &itemList) {
  return " FROM idata_" + std::to_string(nodeId) +  //
         " WHERE item_id IN (" + itemList + ")" +   //
         " AND idata_value LIKE '%#%'";
}

std::string PageOrder(int rows) { return " ORDER BY item_id,idata_timestamp LIMIT " + std::to_string(rows); }

// What the read of several node tables brought: by node, the rows of
// its first page, in the order the table gave them.
struct FirstPages {
  Result result;
  std::map<int32_t, std::vector<int>> rows;

  // Null when the node's table was not read with the others.
  const std::vector<int> *of(int32_t node) const {
    auto found = rows.find(node);
    return found == rows.end() ? nullptr : &found->second;
  }
};

// The values holding "#" of one node's text items, in one query per page
// of the node's table rather than one per item, after the first page when
// the read of several tables brought it. A page is in item and time-stamp
// order; one that is full may end inside the rows of one item's time
// stamp: those rows are left to the next page, which starts there, so
// that every row of a time stamp is read before any of them is written (a
// decoded text may hold "#" again and must not be decoded twice). A page
// of one time stamp only is read whole. The pages after a first page
// brought by the read of several tables fall where they would have fallen
// without it, so the writes are the same. A failed query is reported and
// skips the rest of the node; returns false when the loop must end.
bool RecodeNodeValues(TableLoop &loop, int32_t nodeId, const std::string &itemList, const FirstPages &pages) {
  const std::string base = "SELECT item_id,idata_timestamp,idata_value" + ValueSource(nodeId, itemList);
  ValueWriter writer(loop, nodeId);
  bool paged = PagesValues();
  bool hasLast = false;
  ValueKey last{};
  int carried = 0;  // rows of this page that the first page gave already
  if (const std::vector<int> *rows = pages.of(nodeId)) {
    db_result_t first = pages.result.get();
    if (static_cast<int>(rows->size()) < kFirstPageRows)
      return RecodeValueRows(first, *rows, writer) && writer.flush();
    // The rows of its greatest key may go on beyond it; those before are
    // whole. They need not come in order.
    ValueKey lastKey = KeyOfRow(first, rows->front());
    for (int row : *rows) lastKey = std::max(lastKey, KeyOfRow(first, row));
    std::vector<int> whole;
    for (int row : *rows) {
      const ValueKey key = KeyOfRow(first, row);
      if (key == lastKey) continue;
      whole.push_back(row);
      last = hasLast ? std::max(last, key) : key;
      hasLast = true;
    }
    if (!RecodeValueRows(first, whole, writer)) return false;
    carried = static_cast<int>(whole.size());
  }
  for (;;) {
    const int limit = kValuePageRows - carried;
    std::string query = base;
    if (paged) {
      if (hasLast)
        query += " AND (item_id>" + std::to_string(last.item) + " OR (item_id=" + std::to_string(last.item) +
                 " AND idata_timestamp>" + std::to_string(last.timestamp) + "))";
      query += PageOrder(limit);
    }
    Result page = loop.select(query.c_str());
    if (page == nullptr) return !loop.over();
    int rows = DBGetNumRows(page.get());
    if (!paged || rows < limit) return RecodeValueRows(page.get(), FirstRows(rows), writer) && writer.flush();

    ValueKey lastKey = KeyOfRow(page.get(), rows - 1);
    int complete = rows;
    while (complete > 0 && KeyOfRow(page.get(), complete - 1) == lastKey) complete--;
    if (complete > 0) {
      lastKey = KeyOfRow(page.get(), complete - 1);
    } else if (carried > 0) {
      // The page ends with what the first page carried.
      lastKey = last;
    } else {
      page = loop.select((base + " AND item_id=" + std::to_string(lastKey.item) +
                          " AND idata_timestamp=" + std::to_string(lastKey.timestamp))
                             .c_str());
      if (page == nullptr) return !loop.over();
      complete = DBGetNumRows(page.get());
    }
    if (!RecodeValueRows(page.get(), FirstRows(complete), writer) || !writer.flush()) return false;
    hasLast = true;
    last = lastKey;
    carried = 0;
  }
}

// A node table whose values the step reads: its node, its text items
// (rows [first, end) of the step's list) and whether it is read with
// others.
struct ValueTable {
  int32_t node;
  size_t first;
  size_t end;
  bool grouped;
};

using TextItems = std::vector<std::pair<int32_t, int32_t>>;  // node, item; in this order

std::string ItemList(const TextItems &textItems, const ValueTable &table) {
  std::string list;
  for (size_t n = table.first; n < table.end; n++)
    list += (n == table.first ? "" : ",") + std::to_string(textItems[n].second);
  return list;
}

// The tables from the text item first on, up to the kTablesPerRead-th
// that is read with others: every table but those of missing (sorted).
// With missing null only the first table, on its own.
std::vector<ValueTable> NextTables(const TextItems &textItems, size_t first,
                                   const std::vector<int32_t> *missing) {
  std::vector<ValueTable> tables;
  size_t counted = 0;
  while (first < textItems.size() && counted < (missing != nullptr ? kTablesPerRead : 1)) {
    ValueTable table{textItems[first].first, first, first, false};
    while (table.end < textItems.size() && textItems[table.end].first == table.node) table.end++;
    table.grouped = missing != nullptr && !std::binary_search(missing->begin(), missing->end(), table.node);
    counted += missing == nullptr || table.grouped ? 1 : 0;
    tables.push_back(table);
    first = table.end;
  }
  return tables;
}

// The first page of every grouped table of tables, in one query: at most
// kFirstPageRows rows of each (item, time stamp, text, node). A
// subquery that orders and limits its rows stands in parentheses inside
// a UNION; SQLite takes it only as a table of its own.
std::string FirstPagesQuery(const TextItems &textItems, const std::vector<ValueTable> &tables) {
  std::string query;
  for (const ValueTable &table : tables) {
    if (!table.grouped) continue;
    const std::string node = std::to_string(table.node);
    const std::string read = "SELECT item_id,idata_timestamp,idata_value," + node + " AS node" +
                             ValueSource(table.node, ItemList(textItems, table)) + PageOrder(kFirstPageRows);
    if (!query.empty()) query += " UNION ALL ";
    query += DbSyntax == DB_SYNTAX_SQLITE ? "SELECT * FROM (" + read + ")" : "(" + read + ")";
  }
  return query;
}

// Reads the first pages of the grouped tables. A failed read is not
// reported: each table is then read on its own, as without the
// catalogue, and whatever fails there is reported as it always was. On
// PostgreSQL the failure ends a fast attempt of the loop at that next
// read, and the careful form runs it again.
FirstPages ReadFirstPages(const TextItems &textItems, const std::vector<ValueTable> &tables) {
  FirstPages pages;
  const std::string query = FirstPagesQuery(textItems, tables);
  if (query.empty()) return pages;
  std::string failure;
  pages.result.reset(SelectSql(query.c_str(), &failure));
  if (pages.result == nullptr) return pages;
  for (const ValueTable &table : tables)
    if (table.grouped) pages.rows[table.node];
  for (int row = 0; row < DBGetNumRows(pages.result.get()); row++)
    pages.rows[DBGetFieldLong(pages.result.get(), row, 3)].push_back(row);
  return pages;
}

// The node id of a collected-data table's name; false for another name.
bool NodeOfValueTable(const char *name, int32_t &node) {
  constexpr std::string_view kPrefix = "idata_";
  if (strncmp(name, kPrefix.data(), kPrefix.size()) != 0) return false;
  const char *digits = name + kPrefix.size();
  char *end = nullptr;
  errno = 0;
  const long long id = strtoll(digits, &end, 10);
  if (end == digits || *end != 0 || errno != 0 || id < INT32_MIN || id > INT32_MAX) return false;
  node = static_cast<int32_t>(id);
  return true;
}

// The nodes of textItems whose collected-data table the catalogue does
// not list (none, as a rule), sorted; false when the dialect has no such
// query or it failed. The tables are listed once and compared here: asked
// per node, MariaDB may look each table up on its own, opening its
// definition. A failure is not reported: the tables are then read one by
// one, as without it.
bool ReadMissingValueTables(const TextItems &textItems, std::vector<int32_t> &missing) {
  const char *query = nullptr;
  switch (DbSyntax) {
    case DB_SYNTAX_PGSQL:
      query =
          "SELECT tablename FROM pg_tables"
          " WHERE schemaname=current_schema()"
          " AND tablename LIKE 'idata%'";
      break;
    case DB_SYNTAX_MYSQL:
      query =
          "SELECT table_name FROM information_schema.tables"
          " WHERE table_schema=DATABASE()"
          " AND table_name LIKE 'idata%'";
      break;
    case DB_SYNTAX_SQLITE:
      query =
          "SELECT name FROM sqlite_master"
          " WHERE type='table'"
          " AND name LIKE 'idata%'";
      break;
    default: return false;
  }
  std::string failure;
  Result tables(SelectSql(query, &failure));
  if (tables == nullptr) return false;
  std::vector<int32_t> present;
  for (int row = 0; row < DBGetNumRows(tables.get()); row++) {
    char *name = DBGetField(tables.get(), row, 0, nullptr, 0);
    int32_t node;
    if (NodeOfValueTable(name, node)) present.push_back(node);
    free(name);
  }
  std::sort(present.begin(), present.end());
  for (const auto &[node, item] : textItems)
    if ((missing.empty() || missing.back() != node) &&
        !std::binary_search(present.begin(), present.end(), node))
      missing.push_back(node);
  return true;
}

// The values of data type 4 (texts) in the collected-data tables, node by
// node: only the tables of nodes that have text items are read, the items
// named in the query. An item of a node that is gone is skipped without a
// word. Queries that fail are reported and skip what they would have read.
// The node and item ids are held for the step (8 bytes per text item), so
// that the loop over the tables sends nothing but its own reads and
// writes, on PostgreSQL without a savepoint each. Most tables hold no
// value with "#", so where the catalogue can say which tables are there,
// the first pages of kTablesPerRead of them come in one query; a table
// that is not there is read on its own, which fails and is reported as
// before, in a loop that is careful from its start. Returns false when a
// write failed and the step must end.
bool RecodeCollectedValues() {
  std::vector<int32_t> nodes;
  StepForEachRow(
      "id", "nodes", nullptr,
      [&nodes](db_result_t block, int row) {
        nodes.push_back(static_cast<int32_t>(DBGetFieldULong(block, row, 0)));
        return true;
      },
      FailedRead::kGoesOn);
  std::sort(nodes.begin(), nodes.end());
  TextItems textItems;
  StepForEachRow(
      "item_id,node_id", "items", "datatype=4",
      [&nodes, &textItems](db_result_t items, int row) {
        int32_t nodeId = static_cast<int32_t>(DBGetFieldULong(items, row, 1));
        if (std::binary_search(nodes.begin(), nodes.end(), nodeId))
          textItems.emplace_back(nodeId, static_cast<int32_t>(DBGetFieldULong(items, row, 0)));
        return true;
      },
      FailedRead::kGoesOn);
  std::sort(textItems.begin(), textItems.end());
  std::vector<int32_t> missing;
  const bool grouped = PagesValues() && !textItems.empty() && ReadMissingValueTables(textItems, missing);
  return RunTableLoop(
      [&](TableLoop &loop) {
        ProgressLine progress("Recoding collected values", "items", textItems.size());
        for (size_t first = 0; first < textItems.size();) {
          const std::vector<ValueTable> tables = NextTables(textItems, first, grouped ? &missing : nullptr);
          const FirstPages pages = ReadFirstPages(textItems, tables);
          for (const ValueTable &table : tables) {
            if (!RecodeNodeValues(loop, table.node, ItemList(textItems, table), pages)) return false;
            progress.advance(table.end - table.first);
          }
          first = tables.back().end;
        }
        return true;
      },
      {.careful = !missing.empty()});
}

constexpr Action kStep213[] = {
    PlainTextColumn{"script_library", "script_id", "script_code", "$SQL:TEXT"},
    PlainTextColumn{"raw_dci_values", "item_id", "raw_value", "varchar(255)"},
    Statement{"UPDATE metadata SET var_value='CREATE TABLE idata_%d ("
              "item_id integer not null,"
              "idata_timestamp integer not null,"
              "idata_value varchar(255) null)' "
              "WHERE var_name='IDataTableCreationCommand'"},
    Conversion{MakeDataValuesNullable},
    Conversion{RecodeCollectedValues},
};

constexpr Action kStep214[] = {
    CreateTable{"CREATE TABLE network_maps ("
                "id integer not null,"
                "map_type integer not null,"
                "layout integer not null,"
                "seed integer not null,"
                "background integer not null,"
                "PRIMARY KEY(id))"},
    CreateTable{"CREATE TABLE network_map_elements ("
                "map_id integer not null,"
                "element_id integer not null,"
                "element_type integer not null,"
                "element_data $SQL:TEXT not null,"
                "PRIMARY KEY(map_id,element_id))"},
    CreateTable{"CREATE TABLE network_map_links ("
                "map_id integer not null,"
                "element1 integer not null,"
                "element2 integer not null,"
                "link_type integer not null,"
                "link_name varchar(255) null,"
                "connector_name1 varchar(255) null,"
                "connector_name2 varchar(255) null,"
                "PRIMARY KEY(map_id,element1,element2))"},
};

// An object list that cannot be read is reported and the step goes on
// without GUIDs. Returns false when an update failed and the step must
// end.
bool GenerateObjectGuids() {
  return StepForEachRow(
      "object_id", "object_properties", nullptr,
      [](db_result_t objects, int row) {
        uuid_t guid;
        uuid_generate(guid);
        char text[37];
        uuid_to_string(guid, text);
        char statement[256];
        snprintf(statement, sizeof(statement), "UPDATE object_properties SET guid='%s' WHERE object_id=%d",
                 text, static_cast<int32_t>(DBGetFieldULong(objects, row, 0)));
        return StepSql(statement);
      },
      FailedRead::kGoesOn);
}

// file_name goes on SQLite too: export and import copy tables by column
// name, so every engine must hold the same columns (the init scripts have
// none). Nothing indexes it, so SQLite can drop it.
// The schema statements come first: where they commit at once (MySQL),
// a recoding sent before them would be committed with them, and a rerun
// after a later failure would decode the committed texts a second time.
constexpr Action kStep215[] = {
    Statement{"ALTER TABLE ap_config_files DROP COLUMN file_name"},
    Statement{"ALTER TABLE object_properties ADD guid varchar(36)"},
    PlainTextColumn{"ap_common", "id", "description", "$SQL:TEXT"},
    PlainTextColumn{"ap_config_files", "policy_id", "file_content", "$SQL:TEXT"},
    Conversion{GenerateObjectGuids},
};

// The legacy bridges run 210 -> 211 ... 215 -> 216 themselves.
constexpr UpgradeStep kRows[] = {
    {209, 210, kStep209}, {210, 211, kStep210}, {211, 212, kStep211}, {212, 213, kStep212},
    {213, 214, kStep213}, {214, 215, kStep214}, {215, 216, kStep215},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps209To216 = kRows;
