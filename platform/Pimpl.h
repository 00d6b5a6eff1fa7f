// The owner of a platform object's state on the system it runs on. Only
// that system's implementation file knows the state's type, so it is also
// the one that says how the state goes: it defines the
// `void Destroy(Class::Impl*) noexcept` that the class declares as a friend
// (found through the argument's type), releasing whatever the state holds.
// The owning classes need no special members of their own: they move, and
// cannot be copied, as this owner does.
#pragma once

#include <memory>

namespace qv::platform {

template <typename Impl>
struct ImplDelete {
  void operator()(Impl* impl) const noexcept { Destroy(impl); }
};

template <typename Impl>
using ImplPtr = std::unique_ptr<Impl, ImplDelete<Impl>>;

// A new, empty state, owned from the start: whatever it comes to hold is
// released on every way out, a raised error included.
template <typename Impl>
ImplPtr<Impl> MakeImpl() {
  return ImplPtr<Impl>(new Impl());
}

}  // namespace qv::platform
