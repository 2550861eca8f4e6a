// Rebuilding the indexes of the per-node collected-data tables, for the
// reindex command and the upgrade.
#pragma once

#include <cstdint>
#include <string>

// What the reindex of the per-node collected-data tables sends:
// everything (the reindex command), or, in the upgrade, only what
// changes the indexes.
enum class ReindexKind {
  // Every index of each table dropped, then the ones that the metadata
  // templates IDataIndexCreationCommand_0..9 describe created.
  kEverything,
  // The catalogue of every table read once (where the dialect has such a
  // query): an index that already has a template's name and definition
  // stays, and only the other indexes are dropped and the missing ones
  // created.
  kWhatChanged,
};

// Reindexes every per-node collected-data table. Failures of single
// statements are reported and the next follows. Returns false only when
// the catalogue of kWhatChanged could not be read (reported; nothing was
// changed) and goesOn, asked with false, says the caller ends there.
bool ReindexCollectedDataTables(ReindexKind kind, bool (*goesOn)(bool succeeded));

// What ReindexCollectedDataTables locks inside a transaction on
// PostgreSQL: every collected-data table, each of its indexes (dropped)
// and one new index per template. Puts the count into locks; false after
// reporting a failed query.
bool EstimateReindexLocks(int64_t &locks);

// The dialect's statement that drops index of table.
std::string DropIndexStatement(const char *index, const char *table);
