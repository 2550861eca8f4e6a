// Databases full of awkward values, and whole-database snapshots to
// compare them after a trip through an export file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/test_db.h"

namespace tvtest {

using Row = std::vector<std::optional<std::string>>;
// Table name -> its rows, sorted, so that engines' orders do not matter.
using Snapshot = std::map<std::string, std::vector<Row>>;

// Fills every exported table of a database at the tool's version with three rows of
// awkward values (quotes, backslashes, control characters, non-ASCII,
// NULLs, extreme integers, a long text of longTextBytes in every
// unbounded text column) and gives each of its nodes a collected-data
// table with rows.
void Populate(TestDatabase &db, size_t longTextBytes);

// initSchema, but on SQLite the initialised file is made once per test
// program and copied.
bool InitSchemaFast(TestDatabase &db);

// A populated SQLite database exported to a file in dir; returns the
// file's path.
std::string MakeExportFile(const std::string &dir);

// Every exported table and every collected-data table of the nodes.
Snapshot TakeSnapshot(TestDatabase &db);

// The rows of one query, in the order the engine returns them.
std::vector<Row> Rows(TestDatabase &db, const std::string &query);

// "tvdbmgr -c <config> <args...>" with the given standard input.
RunResult Tool(TestDatabase &db, const std::vector<std::string> &args, const std::string &input = "",
               const std::vector<std::string> &env = {});

}  // namespace tvtest
