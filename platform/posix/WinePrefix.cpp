#include "platform/posix/WinePrefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace qv::platform::posix {

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
  std::string prefix = Env("WINEPREFIX");
  if (prefix.empty()) prefix = HomeFolder() + "/.wine";
  return StripTrailingSlashes(prefix);
}

}  // namespace qv::platform::posix
