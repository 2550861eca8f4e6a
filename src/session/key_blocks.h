// Reading a table a block of rows at a time in key order, in each
// dialect's own words, so that memory stays bounded whatever the table
// size.
#pragma once

#include <string>

// "SELECT columns FROM from [WHERE where] ORDER BY order" limited to at
// most `rows` rows (no WHERE when where is empty). A dialect without a
// known way to limit rows gets every row in one query; DialectLimitsRows
// tells which.
std::string LimitedSelect(const char *columns, const char *from, const std::string &where, const char *order,
                          int rows);

// Whether LimitedSelect limits the rows on the dialect of the session.
bool DialectLimitsRows();
