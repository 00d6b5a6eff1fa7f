// Shell special folders.
#include "platform/Shell.h"

#include <cstring>

#include "platform/win32/Win32Support.h"

// After windows.h: the shell headers need its types.
#include <shlobj.h>

namespace qv::platform {

struct ItemIdList::Impl {
  LPITEMIDLIST list = nullptr;
};

void Destroy(ItemIdList::Impl* impl) noexcept {
  // The shell allocates the list with the COM task allocator.
  ::CoTaskMemFree(impl->list);
  delete impl;
}

int32_t SHGetSpecialFolderLocation(void* owner, int32_t folder, ItemIdList& result) {
  result.Reset(nullptr);
  LPITEMIDLIST list = nullptr;
  const HRESULT status =
      ::SHGetSpecialFolderLocation(static_cast<HWND>(owner), static_cast<int>(folder), &list);
  if (list != nullptr) {
    auto impl = MakeImpl<ItemIdList::Impl>();
    impl->list = list;
    result.Reset(std::move(impl));
  }
  if (SUCCEEDED(status) && list == nullptr) return kEFail;
  return static_cast<int32_t>(status);
}

bool SHGetPathFromIDListA(const ItemIdList& list, char* buffer, uint32_t bufferSize) {
  if (list.impl() == nullptr || list.impl()->list == nullptr || buffer == nullptr) return false;
  // The call writes up to MAX_PATH characters whatever the buffer is, and
  // may write into it when it fails: use a buffer of its own.
  char path[MAX_PATH + 1] = {};
  if (!::SHGetPathFromIDListA(list.impl()->list, path)) return false;
  size_t length = std::strlen(path);
  // Wine gives the documents folder with a trailing backslash; Windows gives
  // ordinary folders without one and only a drive root ("C:\\") with one.
  while (length > 3 && path[length - 1] == '\\') path[--length] = '\0';
  if (length + 1 > bufferSize) return false;
  std::memcpy(buffer, path, length + 1);
  return true;
}

}  // namespace qv::platform
