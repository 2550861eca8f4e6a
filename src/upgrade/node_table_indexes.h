// The per-node collected-data tables idata_<node id> are indexed from
// templates in which every "%d" stands for the node id, filled the same
// way as the import fills the stored templates.
#pragma once

#include <cstdint>
#include <vector>

// The ids of the nodes that where chooses (null: every node), in id
// order, read a block at a time. Returns false when the step must end: a
// block could not be read and IgnoreSqlErrors is not set (reported). Under
// -X the ids before the failed block are kept.
bool ReadStepNodeIds(const char *where, std::vector<int32_t> &ids);

// Whether a statement on every node's table is expected to fail: on
// PostgreSQL, whether a node that where chooses has no table (one query
// for all nodes). Sets expected; returns false when the query failed and
// the step must end (reported), as a failed read of the node list does.
bool NodeTablesMissing(const char *where, bool &expected);

// Runs the template for every node that is not deleted, printing the
// table first. Returns false when the step must end: the node list or an
// index failed and IgnoreSqlErrors is not set (reported either way), or
// PostgreSQL's lock table has no room for the locks of all the indexes
// (reported; nothing is indexed then).
bool CreateNodeTableIndexes(const char *indexTemplate);
