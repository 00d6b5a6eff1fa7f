// Shared by the Win32 implementation files: owned handles and the mapping of
// Win32 error codes onto the installer's error numbers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "platform/FaultInjection.h"
#include "platform/UniqueHandle.h"

namespace qv::platform::win32 {

using platform::Unique;  // the owner of one handle, as on every system

// A file handle: CreateFileA gives INVALID_HANDLE_VALUE, not 0, on failure.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};
using FileHandle = Unique<FileHandleTraits>;

// A FindFirstFileA search, ended with FindClose (never CloseHandle).
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) noexcept { ::FindClose(handle); }
};
using FindHandle = Unique<FindHandleTraits>;

// The text Windows gives for an error code, without the line break it ends
// with; "error N" when it has none.
std::string SystemMessage(DWORD code);

// The installer's error number (53 file not found, 76 path not found, 70
// permission denied...) for a Win32 error code.
int32_t NumberForWin32(DWORD code);

// Raises qv::Error for a failed call on `path`: "<title>: cannot <action>
// '<path>': <system text>".
[[noreturn]] void RaiseWin32(DWORD code, const std::string& action, const std::string& path);

// Raises the error an armed test fault asks for, before the real call.
void CheckFault(fault::Operation operation, const std::string& action, const std::string& path);

}  // namespace qv::platform::win32
