// The per-node collected-data tables idata_<node id> are created and
// indexed from statement templates kept in the metadata table (read them
// with ReadServerVariable).
#pragma once

#include <cstdint>
#include <string>

// The template with every "%d" replaced by the node id and "%%" by "%".
// Any other "%" stays as it is: a template is data, never a format.
std::string FormatNodeTemplate(const std::string &text, int32_t nodeId);
