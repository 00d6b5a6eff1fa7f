// Shell special folders, in the shape of the Windows calls.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/Pimpl.h"

namespace qv::platform {

inline constexpr int32_t kCsidlPersonal = 5;  // the user's documents folder
inline constexpr int32_t kSOk = 0;
inline constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);

// An item-id list handed out by the shell; released when destroyed.
class ItemIdList {
 public:
  struct Impl;
  Impl* impl() const noexcept { return impl_.get(); }
  friend void Destroy(Impl* impl) noexcept;
  void Reset(ImplPtr<Impl> impl) noexcept { impl_ = std::move(impl); }

 private:
  ImplPtr<Impl> impl_;
};

// kSOk when the folder exists, an HRESULT failure otherwise. `owner` is the
// owner window, always 0 here.
int32_t SHGetSpecialFolderLocation(void* owner, int32_t folder, ItemIdList& result);

// Writes the folder's path, NUL-terminated, into `buffer` of `bufferSize`
// characters; false when the list has no file-system path (buffer untouched).
bool SHGetPathFromIDListA(const ItemIdList& list, char* buffer, uint32_t bufferSize);

}  // namespace qv::platform
