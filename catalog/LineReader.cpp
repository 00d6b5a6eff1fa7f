#include "catalog/LineReader.h"

#include <algorithm>
#include <cstring>

namespace qv::catalog {

LineReader::LineReader(platform::File& file, size_t blockSize)
    : file_(file), block_(blockSize == 0 ? 1 : blockSize) {}

size_t LineReader::Find(char c, size_t& cached) {
  if (cached == kUnknown || cached < position_) {
    const void* found = std::memchr(block_.data() + position_, c, end_ - position_);
    cached = found == nullptr
                 ? end_
                 : static_cast<size_t>(static_cast<const char*>(found) - block_.data());
  }
  return cached;
}

bool LineReader::Refill() {
  if (atEnd_) return false;
  position_ = 0;
  nextCarriageReturn_ = kUnknown;
  nextLineFeed_ = kUnknown;
  end_ = file_.Read(block_.data(), block_.size());
  if (end_ == 0) atEnd_ = true;
  return end_ != 0;
}

bool LineReader::Next(std::string& line) {
  line.clear();
  bool started = false;
  for (;;) {
    if (position_ == end_ && !Refill()) return started;
    if (skipLineFeed_) {
      skipLineFeed_ = false;
      if (block_[position_] == '\n') {
        ++position_;
        continue;
      }
    }
    const size_t stop = std::min(Find('\r', nextCarriageReturn_), Find('\n', nextLineFeed_));
    line.append(block_.data() + position_, stop - position_);
    started = true;
    if (stop < end_) {
      skipLineFeed_ = block_[stop] == '\r';
      position_ = stop + 1;
      return true;
    }
    position_ = stop;
  }
}

}  // namespace qv::catalog
