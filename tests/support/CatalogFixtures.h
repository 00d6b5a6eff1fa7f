// Fixtures of the core and platform tests: a registry that says where the
// game is installed, environment variables changed for one test, and the
// error an action raised.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/Error.h"

namespace qv::test {

// Makes the machine-wide registry value "Install Dir" of the key
// "SOFTWARE\EA GAMES\The Sims 2" read `installDir` for the life of the
// object (no value at all when `installDir` is empty). On POSIX this is a
// fresh Wine prefix in `prefixFolder` whose system.reg holds the key, with
// WINEPREFIX pointing at it; the previous WINEPREFIX comes back afterwards.
// On Windows (the tests run under Wine in a prefix of their own) the value
// itself is set, and removed afterwards.
class GameRegistry {
 public:
  GameRegistry(const std::string& prefixFolder, const std::optional<std::string>& installDir);
  ~GameRegistry();
  GameRegistry(const GameRegistry&) = delete;
  GameRegistry& operator=(const GameRegistry&) = delete;

 private:
  std::optional<std::string> previous_;
};

// Runs `action` and gives the error it raised; fails the test when none.
template <typename Action>
Error Raised(Action action) {
  try {
    action();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return Error(0, "");
}

// Sets the given variables (a nullopt value removes one) for the life of the
// object, then puts the previous values back. POSIX only.
class ScopedEnv {
 public:
  using Changes = std::vector<std::pair<std::string, std::optional<std::string>>>;
  explicit ScopedEnv(const Changes& changes);
  ScopedEnv(const std::string& name, const std::optional<std::string>& value)
      : ScopedEnv(Changes{{name, value}}) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Changes previous_;
};

}  // namespace qv::test
