// Server settings that refuse what the tool has to do, recognised in a
// failure and explained in words an operator can act on, next to the
// server's own message.
#pragma once

// When the failure whose error text this is comes from a setting of the
// server or the cluster that the tool runs into, prints which setting
// refuses what and what to change: innodb_force_primary_key or wsrep_mode
// REQUIRED_PRIMARY_KEY (tables without a primary key), wsrep_max_ws_rows
// or wsrep_max_ws_size (a transaction too large for the cluster, with
// how large it was). Prints nothing for any other failure, and nothing
// twice for the same one.
void ExplainServerRefusal(const char *errorText);
