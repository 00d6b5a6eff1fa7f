// Fetching a URL into a file, in the shape of urlmon's URLDownloadToFileA.
#pragma once

#include <cstdint>
#include <string>

namespace qv::platform {

// The bind flag that asks for the resource itself, never a cached copy.
inline constexpr uint32_t kBindGetNewestVersion = 0x10;

// Blocks until the resource at `url` is stored whole at `file` (created or
// replaced) and returns 0, or returns a non-zero code. `caller` and
// `callback` are always null here; `reserved` carries the bind flags.
int32_t URLDownloadToFileA(void* caller, const std::string& url, const std::string& file,
                           uint32_t reserved, void* callback);

}  // namespace qv::platform
