#include "common/WorkingLists.h"

#include <algorithm>

#include "common/Error.h"
#include "common/Text.h"
#include "platform/FileSystem.h"

namespace qv {

namespace {

[[noreturn]] void RaiseSubscript() {
  throw Error(err::kSubscriptOutOfRange, "Subscript out of range");
}

}  // namespace

std::string_view StringList::List(int32_t index) const {
  if (index < 0 || index >= ListCount()) RaiseSubscript();
  const auto at = static_cast<size_t>(index);
  const size_t begin = at == 0 ? 0 : ends_[at - 1];
  return std::string_view(text_).substr(begin, ends_[at] - begin);
}

void FileListBox::SetPath(const std::string& path) {
  // Read first: a folder that does not exist leaves the old settings alone.
  std::string old = path_;
  path_ = path;
  try {
    Refresh();
  } catch (...) {
    path_ = old;
    throw;
  }
}

void FileListBox::SetPattern(const std::string& pattern) {
  pattern_ = pattern;
  if (!path_.empty()) Refresh();
}

const std::string& FileListBox::List(int32_t index) const {
  if (index < 0 || index >= ListCount()) RaiseSubscript();
  return names_[static_cast<size_t>(index)];
}

void FileListBox::Refresh() {
  constexpr uint32_t kLeftOut =
      platform::kAttrHidden | platform::kAttrSystem | platform::kAttrDirectory;
  std::vector<std::string> names;
  for (const platform::FolderEntry& entry : platform::ReadFolder(path_)) {
    if ((entry.attributes & kLeftOut) != 0) continue;
    if (!text::WildcardMatch(pattern_, entry.name, /*ignoreCase=*/true)) continue;
    names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return text::LessIgnoreCase(a, b); });
  names_ = std::move(names);
}

}  // namespace qv
