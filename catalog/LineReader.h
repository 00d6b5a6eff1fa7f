// Reads a text file one line at a time, for the merge's three passes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace qv::catalog {

// Splits a file into lines at CR LF, LF or a lone CR, so that scripts saved by
// any editor read the same. The line end is not part of the line. A file that
// ends with a line end has no empty line after it; a last line without one is
// still a line. Every other byte, commas, quotes and NULs included, is kept:
// a line is never split or shortened. Reads in large blocks, so a long script
// costs one system call per block rather than per line.
class LineReader {
 public:
  explicit LineReader(platform::File& file, size_t blockSize = 64 * 1024);

  // Puts the next line into `line`; false (and `line` empty) at the end.
  bool Next(std::string& line);

 private:
  bool Refill();
  // The position of the next `c` at or after position_ in the block (end_
  // when there is none), remembered in `cached` so that each byte is
  // searched once per character: lines that end with a lone CR do not make
  // every line search the rest of the block for an LF.
  size_t Find(char c, size_t& cached);

  static constexpr size_t kUnknown = static_cast<size_t>(-1);

  platform::File& file_;
  std::vector<char> block_;
  size_t position_ = 0;
  size_t end_ = 0;
  bool atEnd_ = false;
  // The last line ended with CR: an LF that follows belongs to that line end.
  bool skipLineFeed_ = false;
  size_t nextCarriageReturn_ = kUnknown;
  size_t nextLineFeed_ = kUnknown;
};

}  // namespace qv::catalog
