// Which rows of a node or component walk may need a question, found in
// the tool from tables read whole in one pass each, on the servers
// through their own drivers (which hold one row at a time).
// MySQL and MariaDB join only by nested loops, so their anti-joins cost
// an index lookup per walked row; PostgreSQL hashes all of
// object_properties for every anti-join against it, twice per component
// table. Reading object_properties once for all walks (while no repair
// changes it), and the walked table and nsmap once each, unbuffered,
// costs a fraction of that, and a clean check then reads no block at all.
// The walk still reads the rows it asks about with its own joined query,
// restricted to the screened keys, so what it sees and asks is the same
// either way.
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
