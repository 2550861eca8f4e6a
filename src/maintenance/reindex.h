// Rebuilding the indexes of the large log and data tables.
#pragma once

// Drops every index of each per-node collected-data table and creates
// the ones that the metadata templates IDataIndexCreationCommand_0..9
// describe. Failures are reported and the next item follows.
void ReindexCollectedDataTables();
