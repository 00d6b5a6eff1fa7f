// Reads a text file one line at a time, for the merge's three passes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace qv::catalog {

// What a byte-order mark at the start of a file means to the reader.
enum class Marks {
  // Every byte passes through, a mark included: the catalog script is
  // written back as it was read.
  kKept,
  // Read-mes as editors save them: a UTF-8 mark is skipped; a UTF-16 mark
  // (either byte order) makes the rest UTF-16 text, handed out converted to
  // the ANSI code page. Without a mark the bytes pass through, UTF-8 too.
  kDecoded,
};

// Splits a file into lines at CR LF, LF or a lone CR, so that scripts saved by
// any editor read the same. The line end is not part of the line. A file that
// ends with a line end has no empty line after it; a last line without one is
// still a line. Every other byte, commas, quotes and NULs included, is kept:
// a line is never split or shortened. Reads in large blocks, so a long script
// costs one system call per block rather than per line.
class LineReader {
 public:
  explicit LineReader(platform::File& file, Marks marks = Marks::kKept,
                      size_t blockSize = 64 * 1024);

  // Puts the next line into `line`; false (and `line` empty) at the end.
  bool Next(std::string& line);

 private:
  enum class Encoding { kBytes, kUtf16LittleEndian, kUtf16BigEndian };

  bool Refill();
  // Reads the file's first bytes into the block and looks for a mark there.
  size_t ReadStart();
  // Reads UTF-16 text and puts it into the block in the ANSI code page.
  size_t ReadWide();
  // The position of the next `c` at or after position_ in the block (end_
  // when there is none), remembered in `cached` so that each byte is
  // searched once per character: lines that end with a lone CR do not make
  // every line search the rest of the block for an LF.
  size_t Find(char c, size_t& cached);

  static constexpr size_t kUnknown = static_cast<size_t>(-1);

  platform::File& file_;
  Marks marks_;
  Encoding encoding_ = Encoding::kBytes;
  bool firstBlockRead_ = false;
  std::vector<char> block_;
  size_t position_ = 0;
  size_t end_ = 0;
  bool atEnd_ = false;
  // The last line ended with CR: an LF that follows belongs to that line end.
  bool skipLineFeed_ = false;
  size_t nextCarriageReturn_ = kUnknown;
  size_t nextLineFeed_ = kUnknown;
  // UTF-16 only: the bytes read, of which the first `rawHeld_` wait for the
  // rest of their character, and a high surrogate whose partner is still to
  // come (0 when none).
  std::vector<char> raw_;
  size_t rawHeld_ = 0;
  char16_t highSurrogate_ = 0;
};

}  // namespace qv::catalog
