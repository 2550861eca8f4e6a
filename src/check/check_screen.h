// Which rows of a node or component walk may need a question, screened
// in the tool from tables read whole, unbuffered, in one pass each.
// Why this pays on the servers: docs/performance.md, "Check".
#pragma once

#include <cstdint>
#include <vector>

// Whether the engine's node and component walks screen their rows first.
bool ScreensInTool();

// The keys of the rows a walk has to read, ascending: every key up to
// upTo whose row the walk's queries would return is among them (more may
// be). upTo is INT64_MAX when the whole table was screened; less when the
// list reached its bound first.
struct ScreenedKeys {
  std::vector<int32_t> keys;
  int64_t upTo = INT64_MAX;
};

// Nodes without properties, or live and linked to no subnet. Returns
// false after reporting a failed query.
bool ScreenNodes(ScreenedKeys &keys);

// Components of table (a table with the columns id and node_id) without
// properties, or whose node is not a live object. Returns false after
// reporting a failed query.
bool ScreenComponents(const char *table, ScreenedKeys &keys);
