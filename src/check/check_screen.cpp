#include "check/check_screen.h"

#include <functional>
#include <string>

#include "check/check_stage.h"
#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

// Ids below this get a bit each in the bitmaps (8 MiB per bitmap at
// most); a row whose id is larger is screened in, as if its lookup found
// nothing, and the walk's own query judges it.
constexpr int64_t kBitmapIds = int64_t(1) << 26;

// The screened keys a walk holds at once (400 KiB); past them it goes on
// with its block queries.
constexpr size_t kMaxScreenedKeys = 100000;

class IdBits {
 public:
  void set(int64_t id) {
    if (id < 0 || id >= kBitmapIds) return;
    if (static_cast<size_t>(id) >= bits_.size()) bits_.resize(static_cast<size_t>(id) + 1);
    bits_[static_cast<size_t>(id)] = true;
  }
  bool has(int64_t id) const { return id >= 0 && static_cast<size_t>(id) < bits_.size() && bits_[id]; }

 private:
  std::vector<bool> bits_;
};

// The current value of an id column, read as IdAt reads one; false for
// NULL.
bool ReadId(db_async_result_t rows, int column, int64_t &value) {
  size_t length;
  if (DBGetFieldAsyncData(rows, column, &length) == nullptr) return false;
  value = DBGetFieldAsyncLong(rows, column);
  return true;
}

// Reads every row of query unbuffered, echoed as every query is, and
// hands each to take until it returns false. Returns false after
// reporting a failed query or a read that broke off.
bool ReadWhole(const char *query, const std::function<bool(db_async_result_t)> &take) {
  AsyncResult rows(SelectSqlUnbuffered(query));
  if (rows == nullptr) return false;
  while (DBFetch(rows.get()))
    if (!take(rows.get())) return true;
  if (const char *error = DBGetAsyncError(rows.get())) {
    ReportSqlError(error, query);
    return false;
  }
  return true;
}

// Which objects have properties and which of them are live, as read
// after the last repair: the node and component stages share one read
// while nothing changes between them.
struct ObjectFacts {
  IdBits present, live;
  int repairsAtRead = -1;
};

const ObjectFacts *CurrentObjectFacts() {
  static ObjectFacts facts;
  if (facts.repairsAtRead == RepairsSent()) return &facts;
  facts = ObjectFacts();
  bool read = ReadWhole("SELECT object_id,is_deleted FROM object_properties", [](db_async_result_t rows) {
    int64_t id, deleted;
    if (!ReadId(rows, 0, id)) return true;
    facts.present.set(id);
    if (ReadId(rows, 1, deleted) && deleted == 0) facts.live.set(id);
    return true;
  });
  if (!read) return nullptr;
  facts.repairsAtRead = RepairsSent();
  return &facts;
}

// Walks the keys of query (the key first, in key order), adding those
// for which needsQuestion is true, up to the bound.
bool ScreenKeys(const char *query, const std::function<bool(db_async_result_t, int64_t)> &needsQuestion,
                ScreenedKeys &keys) {
  keys = ScreenedKeys();
  return ReadWhole(query, [&](db_async_result_t rows) {
    int64_t key;
    if (!ReadId(rows, 0, key) || !needsQuestion(rows, key)) return true;
    if (keys.keys.size() == kMaxScreenedKeys) {
      keys.upTo = keys.keys.back();
      return false;
    }
    keys.keys.push_back(static_cast<int32_t>(key));
    return true;
  });
}

}  // namespace

// SQLite joins inside the tool's process at the cost of the screen
// itself; the other engines join by hash where it pays. A driver that
// holds whole results would hold whole tables: the joins keep memory
// bounded there.
bool ScreensInTool() {
  return (DbSyntax == DB_SYNTAX_MYSQL || DbSyntax == DB_SYNTAX_PGSQL) && DBStreamsRows(DbHandle);
}

bool ScreenNodes(ScreenedKeys &keys) {
  const ObjectFacts *objects = CurrentObjectFacts();
  if (objects == nullptr) return false;
  IdBits linked;
  if (!ReadWhole("SELECT node_id FROM nsmap", [&](db_async_result_t rows) {
        int64_t node;
        if (ReadId(rows, 0, node)) linked.set(node);
        return true;
      }))
    return false;
  return ScreenKeys(
      "SELECT id FROM nodes ORDER BY id",
      [&](db_async_result_t, int64_t id) {
        return !objects->present.has(id) || (objects->live.has(id) && !linked.has(id));
      },
      keys);
}

bool ScreenComponents(const char *table, ScreenedKeys &keys) {
  const ObjectFacts *objects = CurrentObjectFacts();
  if (objects == nullptr) return false;
  const std::string query = std::string("SELECT id,node_id FROM ") + table + " ORDER BY id";
  return ScreenKeys(
      query.c_str(),
      [&](db_async_result_t rows, int64_t id) {
        int64_t node;
        return !objects->present.has(id) || !ReadId(rows, 1, node) || !objects->live.has(node);
      },
      keys);
}
