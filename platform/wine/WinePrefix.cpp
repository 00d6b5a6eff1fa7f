#include "platform/wine/WinePrefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/wine/PrefixDiscovery.h"

namespace qv::platform::wine {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  return StripTrailingSlashes(home);
}

std::string UserName() {
  std::string user = Env("USER");
  if (user.empty()) {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) user = pw->pw_name;
  }
  return user;
}

std::string WinePrefixFolder() {
  const std::string named = Env("WINEPREFIX");
  if (!named.empty()) return StripTrailingSlashes(named);
  // Discovery reads many files; a run asks for the prefix at every registry
  // and path lookup, so the answer is kept for as long as the folders it
  // started from stay the same.
  static std::mutex mutex;
  static DiscoveryHome lastHome;
  static std::string lastPrefix;
  const DiscoveryHome where = DiscoveryHome::FromEnvironment();
  const std::lock_guard<std::mutex> lock(mutex);
  if (lastPrefix.empty() || where.home != lastHome.home || where.dataHome != lastHome.dataHome ||
      where.configHome != lastHome.configHome) {
    const std::optional<DiscoveredPrefix> found = DiscoverGamePrefix(where);
    lastPrefix = found ? found->folder : StripTrailingSlashes(where.home + "/.wine");
    lastHome = where;
  }
  return lastPrefix;
}

}  // namespace qv::platform::wine
