#include "runtime/runtime.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char *LoadFileA(const char *path, uint32_t *size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= UINT32_MAX) {
    close(fd);
    return nullptr;
  }
  size_t total = static_cast<size_t>(st.st_size);
  char *buffer = static_cast<char *>(malloc(total + 1));
  if (buffer == nullptr) {
    close(fd);
    return nullptr;
  }
  size_t done = 0;
  while (done < total) {
    ssize_t n = read(fd, buffer + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (done != total) {
    free(buffer);
    return nullptr;
  }
  buffer[done] = 0;
  if (size != nullptr) *size = static_cast<uint32_t>(done);
  return buffer;
}

char *IpToStr(uint32_t address, char *buffer) {
  snprintf(buffer, 32, "%u.%u.%u.%u", address >> 24, (address >> 16) & 255, (address >> 8) & 255,
           address & 255);
  return buffer;
}

char *uuid_to_string(const uuid_t uuid, char *buffer) {
  uuid_unparse_lower(uuid, buffer);
  return buffer;
}

static char *CopyText(const char *text) { return text != nullptr ? strdup(text) : nullptr; }

char *WideStringFromMBString(const char *text) { return CopyText(text); }
char *MBStringFromWideString(const char *text) { return CopyText(text); }
char *WideStringFromUTF8String(const char *text) { return CopyText(text); }
