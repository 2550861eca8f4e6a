// Text value of the runtime layer. Texts are UTF-8 internally; what the
// tool prints is byte for byte what the formats give.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

class String {
 public:
  String() = default;
  String(const char *text) : value_(text != nullptr ? text : "") {}
  String(std::string text) : value_(std::move(text)) {}

  String &operator=(const char *text) {
    value_ = text != nullptr ? text : "";
    return *this;
  }
  String &operator+=(const char *text) {
    if (text != nullptr) value_ += text;
    return *this;
  }
  String &operator+=(const String &other) {
    value_ += other.value_;
    return *this;
  }
  operator const char *() const { return value_.c_str(); }
  const char *cstr() const { return value_.c_str(); }
  const std::string &str() const { return value_; }
  size_t length() const { return value_.size(); }
  bool isEmpty() const { return value_.empty(); }

  void addFormattedString(const char *format, ...) __attribute__((format(printf, 2, 3)));
  void addFormattedStringV(const char *format, va_list args) __attribute__((format(printf, 2, 0)));
  // Appends an 8-bit text; code page 65001 (UTF-8) and the system code
  // page are both UTF-8 on this platform. A negative length means up to
  // the terminator.
  void addMultiByteString(const char *text, int length, int codePage);
  // Drops the last n characters (bytes); more than the length empties it.
  void shrink(size_t n);
  // Replaces every occurrence of from by to, scanning left to right.
  void translate(const char *from, const char *to);
  // New UTF-8 copy for the caller to free(); never null.
  char *getUTF8String() const;

 private:
  std::string value_;
};
