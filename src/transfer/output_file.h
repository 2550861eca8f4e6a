// The export's output file. The export writes under a temporary name
// beside its target and moves the file into place only once it is
// complete and on disk, so that a failed or killed export leaves the
// earlier file as it was; what a kill can leave behind is a file whose
// name says what it is.
#pragma once

#include <string>

// What an export to path replaces: path itself, or the file that its
// chain of symlinks leads to (which need not exist yet). False with the
// reason printed when that file exists and is not a regular file (a
// device, a directory, a fifo); also false, with the export's "unable to
// open output file", when the chain cannot be followed.
bool ResolveOutputPath(const char *path, std::string &target);

// A file "<target>.tvdbmgr-tmp-XXXXXX" in the target's directory,
// removed (with any journal SQLite left for it) unless it replaced the
// target.
class TemporaryOutputFile {
 public:
  TemporaryOutputFile() = default;
  TemporaryOutputFile(const TemporaryOutputFile &) = delete;
  TemporaryOutputFile &operator=(const TemporaryOutputFile &) = delete;
  ~TemporaryOutputFile();

  // Creates the empty file under a name nobody else uses. False, with
  // nothing created, when the directory refuses it.
  bool create(const std::string &target);
  const std::string &path() const { return path_; }
  // Syncs the file, renames it onto the target and syncs the directory,
  // so that the target is either the earlier file or the complete new
  // one. False with the reason printed; the target is then unchanged
  // unless only the directory sync failed.
  bool replaceTarget();

 private:
  std::string target_;
  std::string path_;  // empty when there is nothing to remove
};
