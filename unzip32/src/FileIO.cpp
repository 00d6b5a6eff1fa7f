// The parts of the file layer that are the same on every system.
#include "FileIO.h"

#include <utility>

namespace unzip32::fileio {

ArchiveFile::~ArchiveFile() {
  CloseHandleOf(handle_);
}

Folder::~Folder() {
  CloseHandleOf(handle_);
}

Folder::Folder(Folder&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    CloseHandleOf(handle_);
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = -1;
  }
  return *this;
}

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

void OutputFile::Discard() {
  CloseHandleOf(handle_);
  handle_ = -1;
  if (folder_ != nullptr && !tempName_.empty()) RemoveTemporary(*folder_, tempName_);
  tempName_.clear();
}

}  // namespace unzip32::fileio
