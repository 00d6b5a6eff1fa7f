#include "common/Leftovers.h"

#include "platform/FileSystem.h"

namespace qv {

void RemoveLeftoverTemporaries(const std::string& folder) noexcept {
  try {
    for (const platform::FolderEntry& entry : platform::ReadFolder(folder)) {
      if ((entry.attributes & platform::kAttrDirectory) != 0) continue;
      if (!platform::IsTemporaryName(entry.name)) continue;
      try {
        platform::RemoveAbandonedTemporary(folder + entry.name);
      } catch (...) {  // left for a later run
      }
    }
  } catch (...) {  // no such folder, or not readable: nothing to clean
  }
}

}  // namespace qv
