// Where the game is and where its player's files go, for each edition that
// players run today. Each edition records itself in its own registry keys:
//  - the disc edition (2004) and the Ultimate Collection (2014):
//    HKLM SOFTWARE\EA GAMES\The Sims 2, "Install Dir" and "DisplayName";
//  - the Legacy Collection (2025, Steam and the EA app):
//    HKCU Software\Electronic Arts\The Sims 2 Ultimate Collection 25, with
//    one sub-key per pack program whose "path" is a folder below the game's root; or the EA
//    app's HKLM SOFTWARE\Maxis\The Sims 2 Legacy "Install Dir"; or Steam's
//    uninstall entry of app 3314070, "InstallLocation".
// The per-user folder is <Documents>\EA Games\<DisplayName>, which the game
// names after its edition and language.
#pragma once

#include <optional>
#include <string>

namespace qv {

struct GameInstall {
  // For messages: "The Sims 2", "The Sims 2 Ultimate Collection" or "The
  // Sims 2 Legacy Collection".
  std::string edition;
  // The base game's folder, ending with exactly one "\".
  std::string gameFolder;
  // The name of the per-user folder below <Documents>\EA Games, as the
  // registry holds it (UTF-16: it may carry a trademark sign that the ANSI
  // code page lacks).
  std::u16string displayName;
};

// The first edition whose keys answer, in the order above; nothing when none
// does.
std::optional<GameInstall> FindGame();

// <game folder>TSData\Res\Catalog\Scripts\modularstairs.txt
std::string CatalogScriptPath(const GameInstall& game);

// <Documents>\EA Games\<DisplayName>\Downloads\, as a path that the file
// calls take; the empty text when there is no documents folder or the name
// cannot be put into a path.
std::string DownloadsFolder(const GameInstall& game);

// The same, with every missing folder below the documents folder made: the
// game makes its per-user folder when it first starts, and players are told
// to make the Downloads folder by hand.
std::string MakeDownloadsFolder(const GameInstall& game);

// What was looked for and where, for a message that the game was not found.
std::string WhereTheGameWasLookedFor();

}  // namespace qv
