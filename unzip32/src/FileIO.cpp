// The parts of the file layer that are the same on every system.
#include "FileIO.h"

#include <utility>

namespace unzip32::fileio {

OutputFile::~OutputFile() {
  Discard();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle_(other.handle_), folder_(other.folder_), tempName_(std::move(other.tempName_)) {
  other.handle_ = -1;
  other.folder_ = nullptr;
  other.tempName_.clear();
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    Discard();
    handle_ = other.handle_;
    folder_ = other.folder_;
    tempName_ = std::move(other.tempName_);
    other.handle_ = -1;
    other.folder_ = nullptr;
    other.tempName_.clear();
  }
  return *this;
}

}  // namespace unzip32::fileio
