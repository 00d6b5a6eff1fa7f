#include "common/Error.h"

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

}  // namespace qv::err
