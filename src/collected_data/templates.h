// The per-node collected-data tables idata_<node id> are created and
// indexed from statement templates kept in the metadata table:
// IDataTableCreationCommand for the table, IDataIndexCreationCommand_<n>
// for its indexes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The template with every "%d" replaced by the node id and "%%" by "%".
// Any other "%" stays as it is: a template is data, never a format.
std::string FormatNodeTemplate(const std::string &text, int32_t nodeId);

// Which index templates a reader takes.
enum class IndexTemplateSet {
  // Suffixes 0 to 3, up to the first without a row or whose query fails
  // (reported): what the import creates on the tables it loads.
  kConsecutive,
  // Suffixes 0 to 9, each that is set and not empty (a failed query is
  // reported and left out): what the reindex creates.
  kEverySet,
};

// The variable name of index template suffix.
std::string IndexTemplateName(int suffix);
// How many suffixes the reindex reads (0 up to this, exclusive).
constexpr int kIndexTemplateSuffixes = 10;

// The index templates of set, in suffix order, read one query each with
// the trace echo.
std::vector<std::string> ReadIndexTemplates(IndexTemplateSet set);
