// Deleting files and folder trees, with an optional confirmation, and a
// file-existence test.
//
// The three deleting helpers never let a failure escape. They report by a
// status convention: the result is true when the call ended without a
// failure (nothing to do and a declined confirmation included); on false,
// `lErrNum` holds the failure's number (-1 when the helper itself rejected
// an empty path) and `sErrDesc` its description. Both out-parameters are
// reset first on every call, so an earlier call's values never survive.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// Deletes the folder `sPath` and everything below it. With `bConfirm` the
// user is asked first; any answer but Yes deletes nothing and returns true.
// A folder that does not exist is not a failure. A symbolic link inside the
// tree is removed as a link; what it points at is never touched.
bool DeleteFolder(std::string sPath, bool bConfirm, int32_t& lErrNum, std::string& sErrDesc);

// The recursive worker of DeleteFolder: empties and removes one existing
// sub-folder, without asking.
bool DeleteSubFolder(std::string sPath, int32_t& lErrNum, std::string& sErrDesc);

// Deletes one file (read-only, hidden and system ones too). With `bConfirm`
// the user is asked first. A file that does not exist is not a failure.
bool DeleteFile(  // source-check: allow the installer's own helper
    std::string sPath, bool bConfirm, int32_t& lErrNum, std::string& sErrDesc);

// Whether a file (not a folder) exists at `sPath`, or any file matches it
// when its last component has "*" or "?". Raises qv::Error when the folder
// cannot be listed. Starts a listing, so any listing in progress is lost.
bool FileExists(std::string sPath);

}  // namespace qv
