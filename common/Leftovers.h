// Temporary files that a killed run left behind.
#pragma once

#include <string>

namespace qv {

// Removes the installer's own temporary files (the names that
// platform::IsTemporaryName recognises) directly in `folder`, which ends
// with a separator. Only for a moment when no other process can be writing
// such a file there: the caller holds the lock that covers the folder.
// Never fails: a folder that cannot be read, or a file that will not go,
// is left as it is.
void RemoveLeftoverTemporaries(const std::string& folder) noexcept;

}  // namespace qv
