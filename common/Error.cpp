#include "common/Error.h"

#include <new>

namespace qv::err {

const char* Title(int32_t number) noexcept {
  switch (number) {
    case kFileNotFound:
      return "File not found";
    case kPathNotFound:
      return "Path not found";
    case kFileInUse:
      return "File already open";
    case kPermissionDenied:
      return "Permission denied";
    case kFileExists:
      return "File already exists";
    case kDiskFull:
      return "Disk full";
    case kDeviceIo:
      return "Device I/O error";
    case kBadFileName:
      return "Bad file name or number";
    case kOutOfMemory:
      return "Out of memory";
    default:
      return "Path/File access error";
  }
}

std::string FileErrorText(int32_t number, const std::string& action, const std::string& path,
                          const std::string& reason, const std::string& hostPath) {
  std::string text = std::string(Title(number)) + ": cannot " + action + " '" + path + "'";
  if (!hostPath.empty() && hostPath != path) text += " (" + hostPath + ")";
  return text + ": " + reason;
}

}  // namespace qv::err

namespace qv {

Error CaughtError(const std::string& source) noexcept {
  try {
    try {
      throw;
    } catch (const Error& error) {
      return source.empty() ? error : error.WithSource(source);
    } catch (const std::bad_alloc&) {
      return Error(err::kOutOfMemory, "Out of memory", source);
    } catch (const std::exception& unexpected) {
      return Error(err::kInternal, std::string("Internal error: ") + unexpected.what(), source);
    } catch (...) {
      return Error(err::kInternal, "Internal error", source);
    }
  } catch (...) {
    // Copying the texts ran out of memory: the number alone still tells.
    return Error(err::kOutOfMemory, {});
  }
}

}  // namespace qv
