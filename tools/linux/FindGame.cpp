// quorvane-find-game: tells where the installer will find the game, for
// the player's install scripts. With WINEPREFIX set it looks at that prefix
// only, as the installer does; otherwise it discovers the prefix as the
// installer does when a browser starts it. Prints, tab-separated:
//   KIND  PREFIX  GAME-FOLDER  DOWNLOADS-FOLDER  EDITION
// (the folders as native paths) and exits 0. Exits 1 when no prefix holds
// the game, with what was looked for on standard error.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/Game.h"
#include "platform/wine/PathMap.h"
#include "platform/wine/PrefixDiscovery.h"
#include "platform/wine/WinePrefix.h"

namespace wine = qv::platform::wine;

int main() {
  std::string kind = "WINEPREFIX";
  const char* named = std::getenv("WINEPREFIX");
  if (named == nullptr || *named == '\0') {
    const auto found = wine::DiscoverGamePrefix(wine::DiscoveryHome::FromEnvironment());
    if (found) kind = wine::PrefixKindName(found->kind);
  }
  const std::optional<qv::GameInstall> game = qv::FindGame();
  if (!game) {
    std::fprintf(stderr, "The Sims 2 was not found. %s\n", qv::WhereTheGameWasLookedFor().c_str());
    return 1;
  }
  const std::string downloads = qv::DownloadsFolder(*game);
  std::printf("%s\t%s\t%s\t%s\t%s\n", kind.c_str(), wine::WinePrefixFolder().c_str(),
              wine::ToNativePath(game->gameFolder).c_str(),
              downloads.empty() ? "" : wine::ToNativePath(downloads).c_str(),
              game->edition.c_str());
  return 0;
}
