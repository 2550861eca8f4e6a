// The escaped text form of stored server texts: decoding any text stays
// inside it, and decoding an encoded text gives the text back.
#include <cstdlib>
#include <cstring>
#include <string>

#include "db/db.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Texts end at their first NUL byte, as they do for every caller.
  const std::string text(reinterpret_cast<const char *>(data),
                         strnlen(reinterpret_cast<const char *>(data), size));

  char *encoded = EncodeSQLString(text.c_str());
  if (strchr(encoded, '\'') != nullptr) abort();  // callers put it in quotes as it is
  DecodeSQLString(encoded);
  if (text != encoded) abort();
  free(encoded);

  // Decoding a text of the database, whatever it holds, never grows it.
  std::string stored = text;
  DecodeSQLString(stored.data());
  if (strlen(stored.c_str()) > text.size()) abort();

  // Quoting for every dialect, whole and cut to a length from the input.
  int maxLength = size > 0 ? data[0] % 64 : -1;
  for (int syntax = 0; syntax <= 5; syntax++) {
    String quoted = DBPrepareStringForSyntax(syntax, text.c_str(), -1);
    String cut = DBPrepareStringForSyntax(syntax, text.c_str(), maxLength);
    if (quoted.str().size() < 2 || cut.str().size() > quoted.str().size()) abort();
  }
  return 0;
}
