// quorvane-find-game.exe: what the installer will find, for the setup's
// finish page. It asks the installer's own lookups, so the setup and the
// installer cannot disagree. Prints, a line each, in the ANSI code page:
//   Found: <edition>
//   Game folder: <the base game's folder>
//   Downloads folder: <where the stairs' packages go>
// and exits 0; a missing catalog script adds a line that says so. Prints
// that the game was not found, and exits 1, when no edition's keys answer.
#include <cstdio>
#include <optional>
#include <string>

#include "common/Game.h"
#include "common/modCommon.h"

int main() {
  const std::optional<qv::GameInstall> game = qv::FindGame();
  if (!game) {
    std::printf("The Sims 2 was not found on this computer.\n");
    return 1;
  }
  std::printf("Found: %s\nGame folder: %s\n", game->edition.c_str(), game->gameFolder.c_str());
  if (const std::string downloads = qv::DownloadsFolder(*game); !downloads.empty())
    std::printf("Downloads folder: %s\n", downloads.c_str());
  if (const std::string script = qv::CatalogScriptPath(*game); !qv::FileExists(script))
    std::printf("Its catalog script is missing: %s\n", script.c_str());
  return 0;
}
