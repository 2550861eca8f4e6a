// The lookups of the checks answered by set queries: the rows a check
// walks come in key order, a block at a time, with the answers of the
// lookups joined in where the database can give them, and the rest is
// read for a whole block at once before the block is walked. The number
// of statements then follows the number of defects, not the number of
// rows, and memory stays bounded by the block whatever the table size.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "check/check_screen.h"
#include "db/db.h"
#include "session/key_walk.h"

// Runs a query for ids, kBlockRows ids per statement: format holds one
// "%s" where the parenthesised list of ids goes. Calls take with each
// result; a statement that fails (reported) gives nothing for its ids, as
// a failed per-row lookup finds nothing for its row.
void SelectForIds(const char *format, const std::vector<int32_t> &ids,
                  const std::function<void(db_result_t)> &take);

// The ids among ids that appear in column of table; an id whose query
// fails counts as absent.
std::set<int32_t> FindIds(const char *table, const char *column, const std::vector<int32_t> &ids);

// The names of the objects ids, cut as every name shown in a question; an
// object without a properties row, or whose query fails, is left out.
std::map<int32_t, std::string> LookupObjectNames(std::vector<int32_t> ids);

// A walk over the rows of a table whose reference to another table must
// hold: the two key columns of the walked table (the walk's order), the
// join to the referenced table and the condition that is true when the
// reference is missing. The reader returns only those rows. When the
// joined query fails (reported), the walk goes on over every row in
// scope, as if the lookup of each one had failed.
struct MissingWalk {
  const char *keys;        // e.g. "m.cluster_id,m.node_id"
  const char *table;       // the walked table with its alias
  const char *join;        // e.g. "LEFT JOIN nodes n ON n.id=m.node_id"
  const char *missing;     // e.g. "n.id IS NULL"
  const char *scope = "";  // a condition on the walked rows
  // Read in blocks; see KeyWalk::inBlocks.
  bool inBlocks = true;
};

struct KeyPair {
  int32_t first, second;
};

class MissingReader {
 public:
  explicit MissingReader(const MissingWalk &walk);
  // The next rows of the walk; false (and no rows) once the walk is over.
  bool next(std::vector<KeyPair> &rows);

 private:
  KeyWalk everyRow_;
  KeyBlocks blocks_;
  bool readingEveryRow_ = false;  // the joined query failed
};

// A walk whose rows may need a question for several reasons. Where the
// engine turns each reason into an anti-join (every engine but
// MySQL/MariaDB, whose nested-loop joins do all reasons in one pass
// faster than one pass per reason), each reason gets a query of its own
// that returns only its rows, in key order, a block at a time; the kinds'
// rows are merged by key, and a block ends at the last key that every
// kind has read up to. Every kind selects the same columns, the key
// first, so any one row of a key tells all.
bool OneQueryPerReason();

struct KindRow {
  int32_t key;
  size_t kind;
  int row;  // in result(kind)
};

// A screen fills the keys of the rows the walk must read (see
// check/check_screen.h); false after reporting a failed query.
using WalkScreen = std::function<bool(ScreenedKeys &)>;

class MergedWalk {
 public:
  // Every kind selects the same key column first. With a screen, the walk
  // reads only the screened keys, a block at a time, then goes on with
  // plain blocks past the last key screened.
  explicit MergedWalk(std::vector<KeyWalk> kinds, WalkScreen screen = nullptr)
      : kinds_(std::move(kinds)), screen_(std::move(screen)) {}
  // Reads the next block; false once the walk is over or a query failed
  // (reported).
  bool next();
  // The block's rows in key order, each key once.
  const std::vector<KindRow> &rows() const { return rows_; }
  db_result_t result(size_t kind) const { return results_[kind].get(); }
  // Makes the next block start after key, re-reading the rest of this one
  // (with plain blocks: a repair may have changed what was screened).
  void resumeAfter(int32_t key);

 private:
  // Reads every kind's rows that meet restriction, up to the block size,
  // and merges them; with limited, a block ends at the last key that
  // every kind has read up to. False when a query failed.
  bool readBlock(const std::string &restriction, bool limited, int64_t &bound);
  bool nextScreened();

  std::vector<KeyWalk> kinds_;
  WalkScreen screen_;
  bool screening_ = false;
  ScreenedKeys screened_;
  size_t nextScreenedKey_ = 0;
  std::string after_;
  bool done_ = false;
  std::vector<Result> results_;
  std::vector<KindRow> rows_;
};
