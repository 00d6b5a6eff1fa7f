// Calls a function through a pointer and reports whether the call left the
// stack pointer where it was.
//
// On 32-bit x86 the entry points and callbacks of unzip32 are stdcall: the
// called function pops its own arguments. A function built with another
// convention (cdecl leaves them to the caller) still returns the right value
// but leaves the stack pointer off by the size of the arguments, which an
// optimised caller may not notice until much later, if ever. On other
// targets there is one convention and the check always passes.
#pragma once

#include <cstdint>
#include <type_traits>

namespace qv::test {

// The stack pointer moved by the calls, in bytes: 0 when each function popped
// exactly what its convention says. After an imbalance the stack pointer is
// put back, so the caller goes on safely and can report it.
struct StackCheck {
  std::intptr_t imbalance = 0;

  template <typename Function, typename... Args>
  [[gnu::noinline]] auto Call(Function function, Args... args) {
    std::uintptr_t before = 0;
#if defined(__i386__)
    __asm__ volatile("movl %%esp, %0" : "=r"(before));
#endif
    if constexpr (std::is_void_v<decltype(function(args...))>) {
      function(args...);
      Restore(before);
    } else {
      auto result = function(args...);
      Restore(before);
      return result;
    }
  }

 private:
  [[gnu::always_inline]] inline void Restore(std::uintptr_t before) {
    std::uintptr_t after = 0;
#if defined(__i386__)
    // Reads the stack pointer and sets it back to its value before the call
    // in one step: a no-op after a balanced call.
    __asm__ volatile("movl %%esp, %0\n\tmovl %1, %%esp" : "=&r"(after) : "r"(before) : "memory");
#endif
    imbalance += static_cast<std::intptr_t>(before - after);
  }
};

}  // namespace qv::test
