// The per-node collected-data tables idata_<node id> are created and
// indexed from statement templates kept in the metadata table.
#pragma once

#include <cstdint>
#include <string>

// The template with every "%d" replaced by the node id and "%%" by "%".
// Any other "%" stays as it is: a template is data, never a format.
std::string FormatNodeTemplate(const std::string &text, int32_t nodeId);

// "SELECT var_value FROM metadata WHERE var_name='<name>'" on the
// connected database, traced and reported like every query. False when
// the query fails or finds no row; the value is taken as stored.
bool SelectMetadataValue(const char *name, std::string &value);
