#include "transfer_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace tvtest {

namespace {

struct Column {
  std::string name;
  std::string type;   // integer, bigint, text, varchar
  size_t length = 0;  // of varchar(n); 0 for unbounded
  bool nullable = true;
};

using Tables = std::map<std::string, std::vector<Column>>;

Tables ScriptTables(const std::string &engine) {
  std::ifstream in(SqlDir() + "/dbinit_" + engine + ".sql");
  Tables tables;
  std::string line, current;
  const std::regex create(R"(^CREATE TABLE (\w+) \()");
  const std::regex column(R"(^\s+(\w+) (integer|bigint|text|varchar)(\((\d+)\))?(.*)$)");
  const std::regex key(R"(^\s+PRIMARY KEY\(([^)]*)\))");
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, create)) {
      current = m[1];
      continue;
    }
    if (current.empty()) continue;
    if (line.rfind(")", 0) == 0) {
      current.clear();
    } else if (std::regex_search(line, m, key)) {
      std::stringstream names(m[1].str());
      std::string name;
      while (std::getline(names, name, ','))
        for (Column &c : tables[current])
          if (c.name == name) c.nullable = false;
    } else if (std::regex_search(line, m, column) && m[1] != "PRIMARY" && m[1] != "UNIQUE") {
      Column c{m[1], m[2], m[4].matched ? std::stoul(m[4]) : 0,
               m[5].str().find("not null") == std::string::npos};
      tables[current].push_back(c);
    }
  }
  return tables;
}

// The table layouts of the PostgreSQL init script (the strictest types),
// where a column is nullable only when it is so on every engine.
Tables SchemaTables() {
  Tables tables = ScriptTables("pgsql");
  for (const char *engine : {"mysql", "sqlite"})
    for (const auto &[table, columns] : ScriptTables(engine))
      for (size_t i = 0; i < columns.size() && i < tables[table].size(); i++)
        tables[table][i].nullable = tables[table][i].nullable && columns[i].nullable;
  return tables;
}

// The first n characters of a UTF-8 text.
std::string CutChars(const std::string &text, size_t n) {
  size_t chars = 0, i = 0;
  for (; i < text.size(); i++)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == n) break;
  return text.substr(0, i);
}

std::string LongText(size_t bytes, int row) {
  std::string text = "r" + std::to_string(row) + " ";
  const std::string piece = "O'Brien \\ \"x\" \t\r\n ünï 日本 \\N %d ;\n";
  while (text.size() < bytes) text += piece;
  return text;
}

std::string Literal(TestDatabase &db, const std::optional<std::string> &value) {
  return value ? DBPrepareStringForSyntax(db.syntax(), value->c_str()).str() : "NULL";
}

std::optional<std::string> Value(const std::string &table, const Column &c, int column, int row,
                                 size_t longTextBytes) {
  if (row == 1 && c.nullable) return std::nullopt;
  if (c.type == "integer") {
    if (table == "nodes" && c.name == "id") return std::to_string(100 + row);
    static const char *const kInts[] = {"2147483646", "-2147483647", nullptr};
    return kInts[row] != nullptr ? std::string(kInts[row]) : std::to_string(4242 + column);
  }
  if (c.type == "bigint") {
    static const char *const kBig[] = {"9223372036854775807", "-9223372036854775807", "0"};
    return std::string(kBig[row]);
  }
  if (c.length == 0) {
    if (row == 0) return LongText(longTextBytes, row);
    if (row == 2 && c.nullable) return std::string();
  }
  std::string text =
      "r" + std::to_string(row) + "c" + std::to_string(column) + " O'Brien \\ \\N \"q\"\t日本 ünïcödé";
  return c.length > 0 ? CutChars(text, c.length) : text;
}

}  // namespace

std::vector<Row> Rows(TestDatabase &db, const std::string &query) {
  char errorText[DBDRV_MAX_ERROR_TEXT];
  db_result_t r = DBSelectEx(db.handle(), query.c_str(), errorText);
  EXPECT_NE(r, nullptr) << db.engine() << ": " << query << ": " << errorText;
  std::vector<Row> rows;
  if (r == nullptr) return rows;
  for (int row = 0; row < DBGetNumRows(r); row++) {
    Row values;
    for (int c = 0; c < DBGetColumnCount(r); c++) {
      if (DBIsFieldNull(r, row, c)) {
        values.emplace_back(std::nullopt);
      } else {
        char *text = DBGetField(r, row, c, nullptr, 0);
        values.emplace_back(text);
        free(text);
      }
    }
    rows.push_back(values);
  }
  DBFreeResult(r);
  return rows;
}

void Populate(TestDatabase &db, size_t longTextBytes) {
  EXPECT_TRUE(DBBegin(db.handle()));
  for (const auto &[table, columns] : SchemaTables()) {
    if (table == "metadata") continue;
    for (int row = 0; row < 3; row++) {
      std::string names, values;
      for (size_t i = 0; i < columns.size(); i++) {
        names += (i > 0 ? "," : "") + columns[i].name;
        values += (i > 0 ? "," : "") +
                  Literal(db, Value(table, columns[i], static_cast<int>(i), row, longTextBytes));
      }
      db.exec("INSERT INTO " + table + " (" + names + ") VALUES (" + values + ")");
    }
  }
  EXPECT_TRUE(DBCommit(db.handle()));
  std::string create = db.value("SELECT var_value FROM metadata WHERE var_name='IDataTableCreationCommand'");
  for (const Row &node : Rows(db, "SELECT id FROM nodes")) {
    const std::string id = *node[0];
    db.exec(std::regex_replace(create, std::regex("%d"), id));
    db.exec("INSERT INTO idata_" + id +
            " (item_id,idata_timestamp,idata_value) VALUES (-2147483647,2147483646,'" + id +
            " it''s \\ 日本'),(1,0,NULL),(2,-1,'')");
  }
}

Snapshot TakeSnapshot(TestDatabase &db) {
  Snapshot snapshot;
  std::vector<std::string> tables;
  for (const auto &[table, columns] : SchemaTables())
    if (table != "metadata") tables.push_back(table);
  for (const Row &node : Rows(db, "SELECT id FROM nodes")) tables.push_back("idata_" + *node[0]);
  for (const std::string &table : tables) {
    std::vector<Row> rows = Rows(db, "SELECT * FROM " + table);
    std::sort(rows.begin(), rows.end());
    snapshot[table] = rows;
  }
  return snapshot;
}

bool InitSchemaFast(TestDatabase &db) {
  if (db.engine() != "sqlite") return db.initSchema();
  // Removed when the test program ends.
  static struct Cache {
    std::string dir = TempDir();
    ~Cache() { std::filesystem::remove_all(dir); }
  } cache;
  const std::string cached = cache.dir + "/initialised.db";
  std::ifstream config(db.configPath());
  std::string line, path;
  while (std::getline(config, line))
    if (line.rfind("DBName = ", 0) == 0) path = line.substr(9);
  if (!std::filesystem::exists(cached)) {
    if (!db.initSchema()) return false;
    std::filesystem::copy_file(path, cached);
    return true;
  }
  std::filesystem::copy_file(cached, path, std::filesystem::copy_options::overwrite_existing);
  db.reconnect();
  return true;
}

std::string MakeExportFile(const std::string &dir) {
  auto source = OpenOrSkip("sqlite");
  if (!source || !InitSchemaFast(*source)) return "";
  source->execAll({"INSERT INTO nodes (id,community) VALUES (100,'public')",
                   "CREATE TABLE idata_100 (item_id integer not null,idata_timestamp integer not null,"
                   "idata_value varchar(255) null)",
                   "INSERT INTO idata_100 VALUES (1,2,'v'),(3,4,NULL)",
                   "INSERT INTO script_library (script_id,script_name,script_code) VALUES "
                   "(101,'good','x'),(102,'bad','y'),(103,'late','z')"});
  std::string file = dir + "/export.db";
  RunResult r = Tool(*source, {"export", file});
  EXPECT_TRUE(r.out.ends_with("Database export complete.\n")) << r.out;
  return file;
}

RunResult Tool(TestDatabase &db, const std::vector<std::string> &args, const std::string &input,
               const std::vector<std::string> &env) {
  std::vector<std::string> all = {"-c", db.configPath()};
  all.insert(all.end(), args.begin(), args.end());
  return RunTool(all, input, env);
}

}  // namespace tvtest
