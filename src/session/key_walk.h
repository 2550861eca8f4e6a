// Reading a table a block of rows at a time in key order, in each
// dialect's own words, so that memory stays bounded whatever the table
// size: the upgrade's conversions over tables that grow with the network
// and the check's walks read their rows this one way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "db/db.h"

// Rows per block; also the most values one IN list holds, which keeps
// statements short and inside every engine's limits.
constexpr int kBlockRows = 1000;

// What a walk reads: "SELECT columns FROM from [WHERE where]" in the
// order of its key, the first keyColumns (1 or 2) of columns, which are
// integers and together unique within the selection (no WHERE when where
// is empty).
struct KeyWalk {
  std::string columns;
  std::string from;
  std::string where{};  // "" for every row
  int keyColumns = 1;
  // Every row in one query instead of blocks: for a walk whose repairs
  // delete rows ahead of it, which are still walked, as they were there
  // when the walk began.
  bool inBlocks = true;
};

// The query of the next block of walk, restricted further by restriction
// ("" for none): at most kBlockRows rows in key order. A dialect without
// a known way to limit rows gets every row in one block.
std::string BlockQuery(const KeyWalk &walk, const std::string &restriction);

// Whether block, read with BlockQuery, was the last of a walk in blocks.
bool IsLastBlock(db_result_t block);

// The first key column of walk, and the condition that takes a walk with
// one key column past last.
std::string KeyColumn(const KeyWalk &walk);
std::string KeyAfter(const KeyWalk &walk, int64_t last);

// Two conditions joined with AND, either of which may be empty.
std::string BothConditions(const std::string &a, const std::string &b);

// A walk under way: the query of its next block, and where the block
// after that one begins.
class KeyBlocks {
 public:
  explicit KeyBlocks(KeyWalk walk) : walk_(std::move(walk)) {}
  // True once the last block has been passed or the walk was ended.
  bool over() const { return over_; }
  std::string query() const;
  // Moves past block, read with query(): the next block starts after the
  // key of its last row.
  void pass(db_result_t block);
  // Goes on over another selection with the same key, after the rows
  // passed so far.
  void switchTo(KeyWalk walk) { walk_ = std::move(walk); }
  void end() { over_ = true; }

 private:
  KeyWalk walk_;
  bool started_ = false;
  int64_t last_[2] = {0, 0};
  bool over_ = false;
};

// Reads one block: null after reporting a failure. ReadBlock reads with
// SelectSql; the upgrade's steps read under their own failure rule.
using BlockRead = std::function<Result(const char *query)>;
Result ReadBlock(const char *query);

// Why ForEachRowByKey ended.
enum class WalkEnd { kLastRow, kReadFailed, kStopped };

// Calls visit(block, row) for every row of walk in key order until it
// returns false (kStopped). Each block is read with read; a failed read
// ends the walk (kReadFailed).
WalkEnd ForEachRowByKey(const KeyWalk &walk, const std::function<bool(db_result_t, int)> &visit,
                        const BlockRead &read = ReadBlock);
