#include "runtime/tv_string.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void String::addFormattedString(const char *format, ...) {
  va_list args;
  va_start(args, format);
  addFormattedStringV(format, args);
  va_end(args);
}

void String::addFormattedStringV(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int needed = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return;
  size_t old = value_.size();
  value_.resize(old + static_cast<size_t>(needed) + 1);
  vsnprintf(&value_[old], static_cast<size_t>(needed) + 1, format, args);
  value_.resize(old + static_cast<size_t>(needed));
}

void String::addMultiByteString(const char *text, int length, int /*codePage*/) {
  if (text == nullptr) return;
  if (length < 0)
    value_ += text;
  else
    value_.append(text, strnlen(text, static_cast<size_t>(length)));
}

void String::shrink(size_t n) { value_.resize(n >= value_.size() ? 0 : value_.size() - n); }

void String::translate(const char *from, const char *to) {
  size_t fromLen = strlen(from);
  if (fromLen == 0) return;
  size_t toLen = strlen(to);
  size_t pos = 0;
  while ((pos = value_.find(from, pos, fromLen)) != std::string::npos) {
    value_.replace(pos, fromLen, to, toLen);
    pos += toLen;
  }
}

char *String::getUTF8String() const {
  char *copy = strdup(value_.c_str());
  if (copy == nullptr) abort();
  return copy;
}
