#include "collected_data/templates.h"

#include "session/sql_exec.h"

std::string FormatNodeTemplate(const std::string &text, int32_t nodeId) {
  const std::string id = std::to_string(nodeId);
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 'd' || text[i + 1] == '%')) {
      out += text[i + 1] == 'd' ? id : "%";
      i++;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string IndexTemplateName(int suffix) { return "IDataIndexCreationCommand_" + std::to_string(suffix); }

std::vector<std::string> ReadIndexTemplates(IndexTemplateSet set) {
  const bool consecutive = set == IndexTemplateSet::kConsecutive;
  std::vector<std::string> templates;
  for (int n = 0; n < (consecutive ? 4 : kIndexTemplateSuffixes); n++) {
    std::string value;
    const bool found = ReadServerVariable("metadata", IndexTemplateName(n).c_str(), value,
                                          QueryEcho::kTraced) == VariableRead::kFound;
    if (!found && consecutive) break;
    if (found && (consecutive || !value.empty())) templates.push_back(value);
  }
  return templates;
}
