// Where the Wine prefix and the user's home are, for the POSIX layer.
#pragma once

#include <string>

namespace qv::platform::wine {

// $WINEPREFIX; else the prefix that holds the game (see PrefixDiscovery.h);
// else ~/.wine. No trailing slash; the folder need not exist.
std::string WinePrefixFolder();

// $HOME, else the password database's home of the current user.
std::string HomeFolder();

// $USER, else the password database's name of the current user.
std::string UserName();

}  // namespace qv::platform::wine
