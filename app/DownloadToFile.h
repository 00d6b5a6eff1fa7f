// The module DownloadToFile: fetches the resource at an address into a local
// file through the platform's URL download.
#pragma once

#include <string>

namespace qv {

// True when the resource at `sURL` has been stored whole in `sLocalFile`
// (created or replaced), False on any failure. Shows nothing and keeps no
// error text: the caller decides what the user sees.
bool DownloadFile(const std::string& sURL, const std::string& sLocalFile);

}  // namespace qv
