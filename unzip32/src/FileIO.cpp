// The parts of the file layer that are the same on every system.
#include "FileIO.h"

#include <atomic>
#include <string>
#include <utility>

namespace unzip32::fileio {

bool ArchiveFile::ReadAt(uint64_t offset, void* buffer, size_t length, Failure& failure) const {
  auto* out = static_cast<char*>(buffer);
  while (length > 0) {
    const int64_t got = ReadSome(handle_, offset, out, length, failure);
    if (got < 0) return false;
    if (got == 0) {
      failure.text = "unexpected end of the archive";
      return false;
    }
    out += static_cast<size_t>(got);
    length -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

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

bool OutputFile::Create(const Folder& folder, Failure& failure) {
  Discard();
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = ".unzip32-" + std::to_string(ProcessId()) + "-" +
                       std::to_string(counter.fetch_add(1)) + ".tmp";
    switch (CreateNewFile(folder, name, handle_, failure)) {
      case NewFile::kCreated:
        folder_ = &folder;
        tempName_ = std::move(name);
        return true;
      case NewFile::kNameTaken:
        continue;
      case NewFile::kFailed:
        return false;
    }
  }
  failure.text = "cannot find a free temporary name in " + folder.Path();
  return false;
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
