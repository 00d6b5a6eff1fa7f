#include "platform/win32/Win32Support.h"

#include "common/Error.h"

namespace qv::platform::win32 {

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  // FORMAT_MESSAGE_IGNORE_INSERTS: some messages hold "%1" placeholders that
  // would otherwise read arguments that are not there.
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text != nullptr) message.assign(text, length);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "error " + std::to_string(code);
  return message;
}

int32_t NumberForWin32(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return err::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return err::kPathNotFound;
    case ERROR_ACCESS_DENIED:
      return err::kPermissionDenied;
    // A write-protected medium: an administrator cannot write to it either,
    // so it must not read as a matter of rights.
    case ERROR_WRITE_PROTECT:
      return err::kPathFileAccess;
    // Another program has the file open (the game, an editor): waiting or
    // closing it helps, more rights do not.
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return err::kFileInUse;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return err::kFileExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return err::kDiskFull;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return err::kBadFileName;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return err::kOutOfMemory;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      return err::kDeviceIo;
    default:
      // A folder that is not empty, a file in use by the system, a device
      // that is not ready...: the path is there but cannot be used.
      return err::kPathFileAccess;
  }
}

void RaiseWin32(DWORD code, const std::string& action, const std::string& path) {
  const int32_t number = NumberForWin32(code);
  throw Error(number, err::FileErrorText(number, action, path, SystemMessage(code)));
}

void CheckFault(fault::Operation operation, const std::string& action, const std::string& path) {
  if (auto number = fault::Take(operation, path)) {
    throw Error(*number, err::FileErrorText(*number, action, path, "injected fault"));
  }
}

}  // namespace qv::platform::win32
