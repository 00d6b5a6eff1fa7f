// DLLs loaded at run time. The copy beside the executable is preferred, and
// the current folder is never searched: a DLL planted in the folder the
// program was started from must not be loaded in its place.
#include "platform/DynamicLibrary.h"

#include <utility>

#include "common/Error.h"
#include "platform/Process.h"
#include "platform/win32/Win32Support.h"

namespace qv::platform {

struct DynamicLibrary::Impl {
  HMODULE module = nullptr;
  std::string path;
};

void Destroy(DynamicLibrary::Impl* impl) noexcept {
  if (impl->module != nullptr) ::FreeLibrary(impl->module);
  delete impl;
}

namespace {

std::string ModulePath(HMODULE module, const std::string& fallback) {
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : fallback;
}

[[noreturn]] void RaiseLoad(const std::string& what, DWORD code) {
  throw Error(err::kDllLoad, "Error in loading DLL " + what + ": " + win32::SystemMessage(code));
}

}  // namespace

DynamicLibrary DynamicLibrary::Load(const std::string& baseName) {
  if (baseName.empty() || baseName.find_first_of("\\/:") != std::string::npos) {
    throw Error(err::kDllLoad, "Error in loading DLL: bad library name '" + baseName + "'");
  }
  const std::string fileName = baseName + ".dll";
  auto impl = MakeImpl<Impl>();
  const std::string folder = ExecutableFolder();
  const std::string ownCopy = folder.empty() ? std::string() : folder + "\\" + fileName;
  // A load failure must come back as an error, not as a system dialog.
  const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  if (!ownCopy.empty() && ::GetFileAttributesA(ownCopy.c_str()) != INVALID_FILE_ATTRIBUTES) {
    // The copy shipped with the program. When it is there but broken, say
    // so rather than quietly load some other version from the system.
    // LOAD_WITH_ALTERED_SEARCH_PATH resolves its own imports from its folder.
    impl->module = ::LoadLibraryExA(ownCopy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (impl->module == nullptr) RaiseLoad(ownCopy, code);
    impl->path = ownCopy;
  } else {
    // By name from the system's folders only. The current folder must stay
    // out of the search: LOAD_LIBRARY_SEARCH_DEFAULT_DIRS leaves it (and
    // PATH) out. Systems without those flags refuse them with "invalid
    // parameter"; there an empty DLL directory removes the current folder.
    // (Wine ignores the empty DLL directory and would still search it.)
    impl->module = ::LoadLibraryExA(fileName.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    DWORD code = ::GetLastError();
    if (impl->module == nullptr && code == ERROR_INVALID_PARAMETER) {
      ::SetDllDirectoryA("");
      impl->module = ::LoadLibraryA(fileName.c_str());
      code = ::GetLastError();
      ::SetDllDirectoryA(nullptr);
    }
    ::SetErrorMode(oldMode);
    if (impl->module == nullptr) RaiseLoad(fileName, code);
    impl->path = ModulePath(impl->module, fileName);
  }
  return DynamicLibrary(std::move(impl));
}

void* DynamicLibrary::Symbol(const std::string& name) const {
  if (!impl_ || impl_->module == nullptr) {
    throw Error(err::kDllEntryPoint,
                "Can't find DLL entry point " + name + " in an unloaded library");
  }
  const FARPROC address = ::GetProcAddress(impl_->module, name.c_str());
  if (address == nullptr) {
    throw Error(err::kDllEntryPoint, "Can't find DLL entry point " + name + " in " + impl_->path);
  }
  return reinterpret_cast<void*>(address);
}

const std::string& DynamicLibrary::Path() const noexcept {
  static const std::string kNone;
  return impl_ ? impl_->path : kNone;
}

}  // namespace qv::platform
