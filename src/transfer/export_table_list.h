// The tables that export, import and the clearing before an import walk,
// in this order. The per-node collected-data tables and metadata are not
// in it.
#pragma once

// Ended by a null entry.
extern const char *const ExportTableList[];
