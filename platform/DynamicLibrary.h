// A shared library loaded at run time.
#pragma once

#include <string>
#include <utility>

#include "platform/Pimpl.h"

namespace qv::platform {

class DynamicLibrary {
 public:
  // Loads the library named `baseName` ("unzip32": unzip32.dll on Windows,
  // libunzip32.so on POSIX) from the executable's own folder first, then by
  // name through the system's search path; never from the current folder.
  // Raises error 48 when it cannot be loaded.
  static DynamicLibrary Load(const std::string& baseName);

  // The address of an exported entry point; raises error 453 when missing.
  void* Symbol(const std::string& name) const;
  // The full path the library was loaded from.
  const std::string& Path() const noexcept;

  struct Impl;
  friend void Destroy(Impl* impl) noexcept;

 private:
  explicit DynamicLibrary(ImplPtr<Impl> impl) : impl_(std::move(impl)) {}
  ImplPtr<Impl> impl_;
};

}  // namespace qv::platform
