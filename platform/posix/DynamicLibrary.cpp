#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <utility>

#include "common/Error.h"
#include "platform/Process.h"

namespace qv::platform {

struct DynamicLibrary::Impl {
  void* handle = nullptr;
  std::string path;
};

void Destroy(DynamicLibrary::Impl* impl) noexcept {
  if (impl->handle != nullptr) ::dlclose(impl->handle);
  delete impl;
}

namespace {

std::string LastDlError() {
  const char* text = ::dlerror();
  return text != nullptr ? std::string(text) : std::string("unknown error");
}

// The file the loader actually opened, for messages and for Path().
std::string LoadedPath(void* handle, const std::string& fallback) {
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
      map->l_name[0] != '\0') {
    return map->l_name;
  }
  return fallback;
}

}  // namespace

DynamicLibrary DynamicLibrary::Load(const std::string& baseName) {
  const std::string fileName = "lib" + baseName + ".so";
  if (baseName.empty() || baseName.find('/') != std::string::npos) {
    throw Error(err::kDllLoad, "Error in loading DLL: bad library name '" + baseName + "'");
  }
  auto impl = MakeImpl<Impl>();
  const std::string folder = ExecutableFolder();
  const std::string ownCopy = folder.empty() ? std::string() : folder + "/" + fileName;
  ::dlerror();
  if (!ownCopy.empty() && ::access(ownCopy.c_str(), F_OK) == 0) {
    // The copy beside the program is the one it was built and shipped with;
    // when it is there but broken, say so rather than quietly loading some
    // other version from the system.
    impl->handle = ::dlopen(ownCopy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (impl->handle == nullptr) {
      throw Error(err::kDllLoad, "Error in loading DLL " + ownCopy + ": " + LastDlError());
    }
    impl->path = ownCopy;
  } else {
    // A bare name makes the loader search the system's library path only;
    // the current folder is never searched.
    impl->handle = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (impl->handle == nullptr) {
      throw Error(err::kDllLoad, "Error in loading DLL " + fileName + ": " + LastDlError());
    }
    impl->path = LoadedPath(impl->handle, fileName);
  }
  return DynamicLibrary(std::move(impl));
}

void* DynamicLibrary::Symbol(const std::string& name) const {
  if (!impl_ || impl_->handle == nullptr) {
    throw Error(err::kDllEntryPoint,
                "Can't find DLL entry point " + name + " in an unloaded library");
  }
  ::dlerror();
  void* address = ::dlsym(impl_->handle, name.c_str());
  if (address == nullptr) {
    throw Error(err::kDllEntryPoint, "Can't find DLL entry point " + name + " in " + impl_->path);
  }
  return address;
}

const std::string& DynamicLibrary::Path() const noexcept {
  static const std::string kNone;
  return impl_ ? impl_->path : kNone;
}

}  // namespace qv::platform
