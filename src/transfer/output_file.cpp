#include "transfer/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

#include "session/interrupt.h"

namespace {

// The directory part of a path, as open() takes it.
std::string DirectoryOf(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The same limit as the kernel's, so that a loop of links ends.
constexpr int kMaxLinkHops = 40;

// Opens and fsyncs a file or a directory. False with errno set.
bool SyncPath(const std::string &path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

}  // namespace

bool ResolveOutputPath(const char *path, std::string &target) {
  target = path;
  for (int hops = 0; !target.empty(); hops++) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) {
      if (errno == ENOENT) return true;  // a new file
      break;
    }
    if (S_ISREG(st.st_mode)) return true;
    if (!S_ISLNK(st.st_mode)) {
      printf("ERROR: output file %s exists and is not a regular file\n", path);
      return false;
    }
    if (hops == kMaxLinkHops) break;
    char link[PATH_MAX];
    ssize_t n = readlink(target.c_str(), link, sizeof(link));
    if (n <= 0 || n == static_cast<ssize_t>(sizeof(link))) break;
    std::string next(link, static_cast<size_t>(n));
    target = next.front() == '/' ? next : DirectoryOf(target) + "/" + next;
  }
  printf("ERROR: unable to open output file\n");
  return false;
}

TemporaryOutputFile::~TemporaryOutputFile() {
  if (path_.empty()) return;
  InterruptsHeld held;
  KeepOnInterrupt();
  unlink((path_ + "-journal").c_str());
  unlink(path_.c_str());
}

bool TemporaryOutputFile::create(const std::string &target) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  std::uniform_int_distribution<size_t> pick(0, sizeof(kLetters) - 2);
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string name = target + ".tvdbmgr-tmp-";
    for (int i = 0; i < 6; i++) name += kLetters[pick(random)];
    // Created and registered for removal both or neither.
    InterruptsHeld held;
    // The permissions a file created in place would get.
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      close(fd);  // SQLite opens it by name; a second descriptor would cost it its locks
      target_ = target;
      path_ = name;
      RemoveOnInterrupt(path_);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool TemporaryOutputFile::replaceTarget() {
  if (!SyncPath(path_, O_RDONLY)) {
    printf("ERROR: cannot write output file to disk (%s)\n", strerror(errno));
    return false;
  }
  {
    // Once renamed, the file is the export's result, not a temporary file
    // to remove.
    InterruptsHeld held;
    if (rename(path_.c_str(), target_.c_str()) != 0) {
      printf("ERROR: cannot replace output file %s (%s)\n", target_.c_str(), strerror(errno));
      return false;
    }
    KeepOnInterrupt();
  }
  path_.clear();
  // Until the directory is on disk, a crash could undo the rename and
  // bring back the earlier file after the export said it was complete. A
  // file system that cannot sync a directory says EINVAL.
  if (!SyncPath(DirectoryOf(target_), O_RDONLY | O_DIRECTORY) && errno != EINVAL) {
    printf("ERROR: cannot write output file to disk (%s)\n", strerror(errno));
    return false;
  }
  return true;
}
