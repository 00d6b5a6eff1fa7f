// The exported entry points. Nothing may cross the C interface as an
// exception: each entry point catches everything and turns it into a result.
#include <zlib.h>

#include <cstring>
#include <new>

#include "Extraction.h"
#include "unzip32.h"

namespace {

constexpr int32_t kVersionInfoSize = 64;
constexpr char kReleaseDate[] = "2025-01-15";

void CopyText(char* target, size_t capacity, const char* text) {
  std::memset(target, 0, capacity);
  std::strncpy(target, text, capacity - 1);
}

}  // namespace

extern "C" UNZIP32_EXPORT int32_t UNZIP32_CALL UzpVersion2(UnzipVersionInfo* info) {
  try {
    if (info == nullptr || info->StructLength < kVersionInfoSize) return UNZIP32_ERR_PARAMETER;
    info->StructLength = kVersionInfoSize;
    info->Flags = 2;  // a release, inflating with zlib
    CopyText(info->BetaLevel, sizeof info->BetaLevel, "");
    CopyText(info->Date, sizeof info->Date, kReleaseDate);
    CopyText(info->ZlibVersion, sizeof info->ZlibVersion, zlibVersion());
    const uint8_t version[4] = {1, 0, 0, 0};
    const uint8_t zipVersion[4] = {4, 5, 0, 0};  // ZIP64
    const uint8_t apiVersion[4] = {1, 0, 0, 0};
    std::memcpy(info->Version, version, sizeof version);
    std::memcpy(info->ZipVersion, zipVersion, sizeof zipVersion);
    info->Reserved = 0;
    std::memcpy(info->ApiVersion, apiVersion, sizeof apiVersion);
    return UNZIP32_OK;
  } catch (...) {
    return UNZIP32_ERR_MEMORY;
  }
}

extern "C" UNZIP32_EXPORT int32_t UNZIP32_CALL
Wiz_SingleEntryUnzip(int32_t includeCount, const UnzipNameList* include, int32_t excludeCount,
                     const UnzipNameList* exclude, const UnzipOptions* options,
                     const UnzipUserFunctions* callbacks) {
  if (options == nullptr || callbacks == nullptr) return UNZIP32_ERR_PARAMETER;
  try {
    unzip32::Extraction extraction(includeCount, include, excludeCount, exclude, *options,
                                   *callbacks);
    return extraction.Run();
  } catch (const std::bad_alloc&) {
    return UNZIP32_ERR_MEMORY;
  } catch (...) {
    // Only allocation failures are expected to throw; anything else is still
    // no reason to let an exception into a C caller.
    return UNZIP32_ERR_MEMORY;
  }
}
