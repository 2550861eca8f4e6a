#include "check/check_sets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "check/check_stage.h"
#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

// "(id,id,...)" of ids[start] up to the next kBlockRows ids.
std::string IdList(const std::vector<int32_t> &ids, size_t start) {
  std::string list = "(";
  for (size_t i = start; i < ids.size() && i < start + kBlockRows; i++) {
    if (i > start) list += ',';
    list += std::to_string(ids[i]);
  }
  return list + ')';
}

KeyWalk JoinedWalk(const MissingWalk &walk) {
  return {walk.keys, std::string(walk.table) + " " + walk.join, BothConditions(walk.scope, walk.missing), 2,
          walk.inBlocks};
}

}  // namespace

void SelectForIds(const char *format, const std::vector<int32_t> &ids,
                  const std::function<void(db_result_t)> &take) {
  for (size_t start = 0; start < ids.size(); start += kBlockRows) {
    const std::string list = IdList(ids, start);
    std::vector<char> query(strlen(format) + list.size() + 1);
    snprintf(query.data(), query.size(), format, list.c_str());
    Result result(SelectSql(query.data()));
    if (result) take(result.get());
  }
}

std::set<int32_t> FindIds(const char *table, const char *column, const std::vector<int32_t> &ids) {
  std::set<int32_t> found;
  const std::string format =
      std::string("SELECT ") + column + " FROM " + table + " WHERE " + column + " IN %s";
  SelectForIds(format.c_str(), ids, [&](db_result_t result) {
    for (int i = 0; i < DBGetNumRows(result); i++) found.insert(IdAt(result, i, 0));
  });
  return found;
}

std::map<int32_t, std::string> LookupObjectNames(std::vector<int32_t> ids) {
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  std::map<int32_t, std::string> names;
  SelectForIds("SELECT object_id,name FROM object_properties WHERE object_id IN %s", ids,
               [&](db_result_t result) {
                 for (int i = 0; i < DBGetNumRows(result); i++) {
                   char name[kNameBufferSize];
                   ReadObjectName(result, i, 1, name);
                   names.emplace(IdAt(result, i, 0), name);
                 }
               });
  return names;
}

MissingReader::MissingReader(const MissingWalk &walk)
    : everyRow_{walk.keys, walk.table, walk.scope, 2, walk.inBlocks}, blocks_(JoinedWalk(walk)) {}

bool MissingReader::next(std::vector<KeyPair> &rows) {
  rows.clear();
  while (!blocks_.over()) {
    Result result(SelectSql(blocks_.query().c_str()));
    if (!result) {
      if (readingEveryRow_) blocks_.end();
      readingEveryRow_ = true;
      blocks_.switchTo(everyRow_);
      continue;
    }
    blocks_.pass(result.get());
    for (int i = 0; i < DBGetNumRows(result.get()); i++)
      rows.push_back({IdAt(result.get(), i, 0), IdAt(result.get(), i, 1)});
    if (!rows.empty()) return true;
  }
  return false;
}

bool OneQueryPerReason() { return DbSyntax != DB_SYNTAX_MYSQL; }

bool MergedWalk::readBlock(const std::string &restriction, bool limited, int64_t &bound) {
  rows_.clear();
  results_.clear();
  bound = INT64_MAX;
  for (const KeyWalk &kind : kinds_) {
    Result result(SelectSql(BlockQuery(kind, restriction).c_str()));
    if (!result) return false;
    const int count = DBGetNumRows(result.get());
    if (limited && !IsLastBlock(result.get()))
      bound = std::min<int64_t>(bound, IdAt(result.get(), count - 1, 0));
    results_.push_back(std::move(result));
  }
  for (size_t kind = 0; kind < results_.size(); kind++)
    for (int i = 0; i < DBGetNumRows(results_[kind].get()); i++) {
      const int32_t key = IdAt(results_[kind].get(), i, 0);
      if (key <= bound) rows_.push_back({key, kind, i});
    }
  std::stable_sort(rows_.begin(), rows_.end(),
                   [](const KindRow &a, const KindRow &b) { return a.key < b.key; });
  rows_.erase(std::unique(rows_.begin(), rows_.end(),
                          [](const KindRow &a, const KindRow &b) { return a.key == b.key; }),
              rows_.end());
  return true;
}

// A block of screened keys is at most kBlockRows keys, so one query per
// kind reads all of its rows.
bool MergedWalk::nextScreened() {
  const std::vector<int32_t> &keys = screened_.keys;
  while (nextScreenedKey_ < keys.size()) {
    const std::string list = KeyColumn(kinds_.front()) + " IN " + IdList(keys, nextScreenedKey_);
    nextScreenedKey_ = std::min(keys.size(), nextScreenedKey_ + kBlockRows);
    int64_t bound;
    if (!readBlock(list, false, bound)) {
      done_ = true;
      return false;
    }
    if (!rows_.empty()) return true;
  }
  screening_ = false;
  if (screened_.upTo == INT64_MAX) {
    done_ = true;
    return false;
  }
  after_ = KeyAfter(kinds_.front(), screened_.upTo);
  return next();
}

bool MergedWalk::next() {
  if (done_) return false;
  if (screen_) {
    screening_ = screen_(screened_);
    screen_ = nullptr;
    if (!screening_) {
      done_ = true;
      return false;
    }
  }
  if (screening_) return nextScreened();
  int64_t bound;
  if (!readBlock(after_, true, bound)) {
    done_ = true;
    return false;
  }
  if (bound == INT64_MAX)
    done_ = true;
  else
    after_ = KeyAfter(kinds_.front(), bound);
  return !rows_.empty();
}

void MergedWalk::resumeAfter(int32_t key) {
  after_ = KeyAfter(kinds_.front(), key);
  done_ = false;
  screening_ = false;
}
