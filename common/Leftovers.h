// Temporary files that a killed run left behind.
#pragma once

#include <string>

namespace qv {

// Removes the installer's own temporary files (the names that
// platform::IsTemporaryName recognises) directly in `folder`, which ends
// with a separator, that no process is writing any more. For a moment when
// no other process can be about to write one there: the caller holds the
// lock that covers the folder (a file that is written and then closed before
// it takes its place is only safe under that lock). Never fails: a folder
// that cannot be read, or a file that will not go, is left as it is.
void RemoveLeftoverTemporaries(const std::string& folder) noexcept;

}  // namespace qv
