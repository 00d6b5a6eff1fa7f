#include "catalog/LineReader.h"

#include <algorithm>
#include <cstring>

#include "platform/CodePage.h"

namespace qv::catalog {

namespace {

// Room for the longest mark (UTF-8's three bytes) in the first block.
constexpr size_t kMinimumBlock = 4;

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

LineReader::LineReader(platform::File& file, Marks marks, size_t blockSize)
    : file_(file), marks_(marks), block_(std::max(blockSize, kMinimumBlock)) {}

size_t LineReader::Find(char c, size_t& cached) {
  if (cached == kUnknown || cached < position_) {
    const void* found = std::memchr(block_.data() + position_, c, end_ - position_);
    cached = found == nullptr
                 ? end_
                 : static_cast<size_t>(static_cast<const char*>(found) - block_.data());
  }
  return cached;
}

size_t LineReader::ReadStart() {
  if (marks_ == Marks::kKept) return file_.Read(block_.data(), block_.size());
  // A read may stop short of the block: gather enough bytes to tell a mark.
  size_t got = 0;
  while (got < 3) {
    const size_t count = file_.Read(block_.data() + got, block_.size() - got);
    if (count == 0) break;
    got += count;
  }
  const auto byte = [this](size_t at) { return static_cast<unsigned char>(block_[at]); };
  if (got >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    position_ = 3;
    return got;
  }
  const bool little = got >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
  const bool big = got >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
  if (!little && !big) return got;
  encoding_ = little ? Encoding::kUtf16LittleEndian : Encoding::kUtf16BigEndian;
  raw_.resize(block_.size());
  rawHeld_ = got - 2;
  std::memmove(raw_.data(), block_.data() + 2, rawHeld_);
  return ReadWide();
}

size_t LineReader::ReadWide() {
  for (;;) {
    // rawHeld_ is at most the bytes after the mark in the first block, or
    // one odd byte later: there is always room to read.
    const size_t count = file_.Read(raw_.data() + rawHeld_, raw_.size() - rawHeld_);
    const bool atEnd = count == 0;
    const size_t total = rawHeld_ + count;
    std::u16string units;
    units.reserve(total / 2 + 1);
    if (highSurrogate_ != 0) units += highSurrogate_;
    highSurrogate_ = 0;
    size_t at = 0;
    for (; at + 1 < total; at += 2) {
      const auto first = static_cast<unsigned char>(raw_[at]);
      const auto second = static_cast<unsigned char>(raw_[at + 1]);
      units += encoding_ == Encoding::kUtf16LittleEndian
                   ? static_cast<char16_t>(first | (second << 8))
                   : static_cast<char16_t>((first << 8) | second);
    }
    // An odd byte waits for its partner; at the end it is half a character
    // and goes. A pair is converted whole, so a high surrogate at the end of
    // what was read waits for the low one.
    rawHeld_ = atEnd ? 0 : total - at;
    if (rawHeld_ != 0) raw_[0] = raw_[at];
    if (!atEnd && !units.empty() && IsHighSurrogate(units.back())) {
      highSurrogate_ = units.back();
      units.pop_back();
    }
    if (units.empty()) {
      if (atEnd) return 0;
      continue;
    }
    // CR and LF convert to themselves, and no other character of any ANSI
    // code page converts to one of their bytes: lines split as in the text.
    const std::string text = platform::WideToAnsi(units);
    if (text.size() > block_.size()) block_.resize(text.size());
    std::memcpy(block_.data(), text.data(), text.size());
    return text.size();
  }
}

bool LineReader::Refill() {
  if (atEnd_) return false;
  position_ = 0;
  nextCarriageReturn_ = kUnknown;
  nextLineFeed_ = kUnknown;
  if (!firstBlockRead_) {
    firstBlockRead_ = true;
    end_ = ReadStart();
  } else if (encoding_ == Encoding::kBytes) {
    end_ = file_.Read(block_.data(), block_.size());
  } else {
    end_ = ReadWide();
  }
  if (end_ == 0) atEnd_ = true;
  return end_ != 0;
}

bool LineReader::Next(std::string& line) {
  line.clear();
  bool started = false;
  for (;;) {
    // A block may hold nothing to hand out: a mark alone.
    while (position_ == end_) {
      if (!Refill()) return started;
    }
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
