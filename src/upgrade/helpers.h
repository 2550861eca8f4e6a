// Operations the upgrade steps share.
#pragma once

#include <cstdint>
#include <memory>

#include "db/db.h"

// The decoded value of a config variable as a number (base 0: "0x" reads
// hexadecimal, a leading "0" octal). A missing row, a name of 128
// characters or more, or a failed query gives the default; a value that
// is not a number gives 0.
int32_t ReadConfigVariable(const char *name, int32_t defaultValue);
uint32_t ReadConfigVariableUnsigned(const char *name, uint32_t defaultValue);

// Inserts the variable (value encoded) unless it exists; an existing one
// is left alone, or, with updateIfExists, gets the new value while its
// two flags stay.
bool AddConfigVariable(const char *name, const char *value, int isVisible, int needServerRestart,
                       bool updateIfExists);

// Moves a text column from the escaped form to plain storage: "#00"
// becomes the empty text and every text holding "#" is decoded. Where the
// dialect can limit a query's rows they are read page by page, so memory
// does not grow with the table.
bool RecodeColumnStrings(const char *table, const char *keyColumn, const char *column);

// Only Oracle keeps NOT NULL on these columns; elsewhere nothing is sent.
bool MakeColumnNullable(const char *table, const char *column, const char *type);

// Adds an event template (flags 1). Message and description are encoded
// unless they are given in the stored form already.
bool AddEventTemplate(int code, const char *name, int severity, const char *message, const char *description,
                      bool textsStored);
