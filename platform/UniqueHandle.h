// A move-only owner of one operating-system handle, for the implementation
// files of every system: a file descriptor, a FILE*, a DIR* on POSIX.
#pragma once

#include <utility>

namespace qv::platform {

// `Traits` names the handle type, its empty value and the call that
// releases it.
template <typename Traits>
class Unique {
 public:
  using Handle = typename Traits::Handle;

  Unique() noexcept = default;
  explicit Unique(Handle handle) noexcept : handle_(handle) {}
  Unique(Unique&& other) noexcept : handle_(std::exchange(other.handle_, Traits::Empty())) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, Traits::Empty()));
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { Reset(); }

  Handle Get() const noexcept { return handle_; }
  bool Valid() const noexcept { return handle_ != Traits::Empty(); }
  Handle Release() noexcept { return std::exchange(handle_, Traits::Empty()); }
  void Reset(Handle handle = Traits::Empty()) noexcept {
    if (handle_ != Traits::Empty()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::Empty();
};

}  // namespace qv::platform
