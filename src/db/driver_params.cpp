#include "db/driver_params.h"

#include <algorithm>

bool ParseDriverNumber(const char *driver, const std::string &key, const std::string &value, unsigned min,
                       unsigned max, unsigned &number, std::string &error) {
  // Counting stops just past max, so that no number of digits overflows.
  unsigned long long n = 0;
  bool digits = !value.empty();
  for (char c : value) {
    if (c < '0' || c > '9') {
      digits = false;
      break;
    }
    n = std::min(n * 10 + static_cast<unsigned>(c - '0'), max + 1ULL);
  }
  if (digits && n >= min && n <= max) {
    number = static_cast<unsigned>(n);
    return true;
  }
  error = std::string(driver) + " driver parameter \"" + key + "\" must be a number from " +
          std::to_string(min) + " to " + std::to_string(max) + ", not \"" + value + "\"";
  return false;
}
