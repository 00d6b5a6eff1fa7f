// A shared library loaded at run time.
#pragma once

#include <memory>
#include <string>

namespace qv::platform {

class DynamicLibrary {
 public:
  // Loads the library named `baseName` ("unzip32": unzip32.dll on Windows,
  // libunzip32.so on POSIX) from the executable's own folder first, then by
  // name through the system's search path; never from the current folder.
  // Raises error 48 when it cannot be loaded.
  static DynamicLibrary Load(const std::string& baseName);

  DynamicLibrary(DynamicLibrary&&) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&&) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  ~DynamicLibrary();

  // The address of an exported entry point; raises error 453 when missing.
  void* Symbol(const std::string& name) const;
  // The full path the library was loaded from.
  const std::string& Path() const noexcept;

  struct Impl;

 private:
  explicit DynamicLibrary(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::platform
