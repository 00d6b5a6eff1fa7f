#include "platform/wine/WinePrefix.h"

#include <pwd.h>
#include <unistd.h>

#include <mutex>

#include "platform/Process.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/PrefixDiscovery.h"

namespace qv::platform::wine {

using posix::TrimTrailingSeparators;

std::string HomeFolder() {
  std::string home = GetEnvironment("HOME");
  if (home.empty()) {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  return TrimTrailingSeparators(home);
}

std::string UserName() {
  std::string user = GetEnvironment("USER");
  if (user.empty()) {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) user = pw->pw_name;
  }
  return user;
}

std::string WinePrefixFolder() {
  const std::string named = GetEnvironment("WINEPREFIX");
  if (!named.empty()) return TrimTrailingSeparators(named);
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
    lastPrefix = found ? found->folder : TrimTrailingSeparators(where.home + "/.wine");
    lastHome = where;
  }
  return lastPrefix;
}

}  // namespace qv::platform::wine
