// quorvane-find-game: tells where the installer will find the game, for
// scripts/install-player.sh. With WINEPREFIX set it looks at that prefix
// only, as the installer does; otherwise it discovers the prefix as the
// installer does when a browser starts it. Prints, tab-separated:
//   KIND  PREFIX  INSTALL-DIR  DOWNLOADS-FOLDER
// (the two last as native paths) and exits 0; exits 1 when no prefix holds
// the game.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/modPaths.h"
#include "platform/Registry.h"
#include "platform/posix/PathMap.h"
#include "platform/posix/PrefixDiscovery.h"

namespace posix = qv::platform::posix;

int main() {
  std::string kind = "WINEPREFIX";
  const char* named = std::getenv("WINEPREFIX");
  if (named == nullptr || *named == '\0') {
    const auto found = posix::DiscoverGamePrefix(posix::DiscoveryHome::FromEnvironment());
    if (!found) return 1;
    kind = posix::PrefixKindName(found->kind);
    ::setenv("WINEPREFIX", found->folder.c_str(), 1);
  }
  const std::string installDir = qv::GetRegistryString(
      qv::platform::kHkeyLocalMachine, "SOFTWARE\\EA GAMES\\The Sims 2", "Install Dir");
  if (installDir.empty()) return 1;
  const std::string documents = qv::GetSpecialFolder(5);
  std::printf("%s\t%s\t%s\t%s\n", kind.c_str(), std::getenv("WINEPREFIX"),
              posix::ToNativePath(installDir).c_str(),
              documents.empty()
                  ? ""
                  : posix::ToNativePath(documents + "\\EA Games\\The Sims 2\\Downloads").c_str());
  return 0;
}
