// A fresh temporary folder for one test: created empty, removed when the test
// passed, kept (and its path printed) when it failed so the leftovers can be
// looked at.
#pragma once

#include <string>

namespace qv::test {

// Whether the tests run as Windows programs under Wine, whose file system
// differs from Windows' own in a few places (links, above all).
bool UnderWine();

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's native path, without a trailing separator.
  const std::string& Path() const noexcept { return path_; }
  // Path() joined with `relative` ("/" or "\" separators both accepted).
  std::string Join(const std::string& relative) const;
  // Writes `content` to `relative`, creating the folders on the way; replaces
  // an existing file.
  void Write(const std::string& relative, const std::string& content) const;
  // The whole content of `relative`; fails the test (and returns "") when it
  // cannot be read.
  std::string Read(const std::string& relative) const;
  // Creates `relative` and its parents as folders.
  void MakeFolder(const std::string& relative) const;
  // Whether `relative` exists (a dangling symbolic link counts as existing).
  bool Exists(const std::string& relative) const;
  // Makes `relative` a symbolic link to `target` (a full path), creating the
  // folders on the way; fails the test when the system cannot make one.
  void Link(const std::string& target, const std::string& relative) const;

 private:
  std::string path_;
};

// Makes the file `path` immutable (chattr +i) for the life of the object: no
// one, root included, may write, replace or remove it (under Wine, made so by
// the host). Fails the test when the file system has no such flag.
class ScopedImmutable {
 public:
  explicit ScopedImmutable(std::string path);
  ~ScopedImmutable();
  ScopedImmutable(const ScopedImmutable&) = delete;
  ScopedImmutable& operator=(const ScopedImmutable&) = delete;

 private:
  std::string path_;
};

}  // namespace qv::test
