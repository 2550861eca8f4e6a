#include "transfer/idata_template.h"

#include <cstdio>
#include <cstdlib>

#include "db/db.h"
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
