// The per-node collected-data tables idata_<node id> are indexed from
// templates in which every "%d" stands for the node id, filled the same
// way as the import fills the stored templates.
#pragma once

// Runs the template for every node that is not deleted, printing the
// table first. Returns false when the step must end: the node list or an
// index failed and IgnoreSqlErrors is not set (reported either way), or
// PostgreSQL's lock table has no room for the locks of all the indexes
// (reported; nothing is indexed then).
bool CreateNodeTableIndexes(const char *indexTemplate);
