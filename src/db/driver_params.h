// The numbers of DBDrvParams. A value that is not wholly a number of its
// range is refused rather than read as far as it goes: "port=33307abc"
// read as 33307, or "port=x" read as 0 (the default port), connects to
// another server than the one the operator named.
#pragma once

#include <string>

// The wait for a server to answer when DBDrvParams sets none: a host that
// accepts the connection and never answers must not hold the tool
// forever.
constexpr unsigned kDefaultConnectTimeoutSeconds = 30;
constexpr unsigned kMaxConnectTimeoutSeconds = 3600;

// Reads value as a number from min to max: decimal digits only, no sign,
// no space. Returns false, with a reason that names the driver and the
// key in error, for anything else.
bool ParseDriverNumber(const char *driver, const std::string &key, const std::string &value, unsigned min,
                       unsigned max, unsigned &number, std::string &error);
