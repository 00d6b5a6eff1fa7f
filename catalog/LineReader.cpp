#include "catalog/LineReader.h"

namespace qv::catalog {

LineReader::LineReader(platform::File& file, size_t blockSize)
    : file_(file), block_(blockSize == 0 ? 1 : blockSize) {}

bool LineReader::Refill() {
  if (atEnd_) return false;
  position_ = 0;
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
    size_t stop = position_;
    while (stop < end_ && block_[stop] != '\r' && block_[stop] != '\n') ++stop;
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
