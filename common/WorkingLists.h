// The working lists of the installer form: two ordered string lists, a text
// cell and a folder listing by wildcard pattern.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// An ordered, unsorted list of strings. Not capped at 32,767 entries: a
// catalog script larger than that must still merge whole. The entries live
// one after the other in one buffer, kept across Clear, so filling the list
// with a script's lines costs no allocation per line.
class StringList {
 public:
  void Clear() noexcept {
    text_.clear();
    ends_.clear();
  }
  void AddItem(std::string_view item) {
    text_.append(item);
    ends_.push_back(text_.size());
  }
  int32_t ListCount() const noexcept { return static_cast<int32_t>(ends_.size()); }
  // The entry at `index`, valid until the list changes. Raises error 9
  // outside 0..ListCount()-1.
  std::string_view List(int32_t index) const;

 private:
  std::string text_;
  std::vector<size_t> ends_;
};

// A single text cell.
struct TextBox {
  std::string Text;
};

// The bare names of the files of one folder that match a wildcard pattern,
// leaving out hidden files, system files and folders, in case-insensitive
// name order. A snapshot taken when Path or Pattern was last set.
class FileListBox {
 public:
  // Raises error 76 when the folder does not exist.
  void SetPath(const std::string& path);
  const std::string& Path() const noexcept { return path_; }
  void SetPattern(const std::string& pattern);
  const std::string& Pattern() const noexcept { return pattern_; }
  int32_t ListCount() const noexcept { return static_cast<int32_t>(names_.size()); }
  // Raises error 9 outside 0..ListCount()-1.
  const std::string& List(int32_t index) const;

 private:
  void Refresh();

  std::string path_;
  std::string pattern_ = "*.*";
  std::vector<std::string> names_;
};

}  // namespace qv
