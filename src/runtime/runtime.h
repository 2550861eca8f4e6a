// Small utilities of the runtime layer. Every text returned as a new
// buffer is released by the caller with free().
#pragma once

#include <uuid/uuid.h>
#include <cstdint>

// Reads a whole file. Returns a new buffer with a terminating zero byte
// (size excludes it), or null when the file cannot be read.
char *LoadFileA(const char *path, uint32_t *size);

// Dotted decimal form of an IPv4 address held in host byte order.
char *IpToStr(uint32_t address, char *buffer /* 32 */);

// The 36-character 8-4-4-4-12 form, lower case.
char *uuid_to_string(const uuid_t uuid, char *buffer /* 37 */);

// 8-bit texts and the system code page are both UTF-8 here, so these
// conversions copy. Null in, null out.
char *WideStringFromMBString(const char *text);
char *MBStringFromWideString(const char *text);
char *WideStringFromUTF8String(const char *text);
