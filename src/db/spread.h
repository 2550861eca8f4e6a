// The statements of a spread run (DBSpreadQueries): independent schema
// statements of many tables, sent over several connections at once.
#pragma once

#include <string>
#include <vector>

// One statement and what became of it.
struct DbSpreadQuery {
  std::string text;
  // Its failure leaves the rest of its lane unsent.
  bool endsLane = false;
  bool sent = false;
  bool ok = false;
  std::string error;
  int errorCode = 0;  // the engine's own number of the failure, 0 when none
};

// The statements of one table, sent in their order over one connection.
using DbSpreadLane = std::vector<DbSpreadQuery>;
