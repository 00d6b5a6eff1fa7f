#include "common/modCommon.h"

#include <exception>
#include <new>

#include "common/Error.h"
#include "common/Text.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"

namespace qv {

namespace {

// Every entry of a folder, sub-folders, hidden and system files and "." and
// ".." included (the volume-label bit is left out).
constexpr uint32_t kMaskEverything = platform::kAttrReadOnly | platform::kAttrHidden |
                                     platform::kAttrSystem | platform::kAttrDirectory |
                                     platform::kAttrArchive;
static_assert(kMaskEverything == 55);
// Files of every kind, no folders.
constexpr uint32_t kMaskFiles = platform::kAttrReadOnly | platform::kAttrHidden |
                                platform::kAttrSystem | platform::kAttrArchive;
static_assert(kMaskFiles == 39);

// Yes/No with the exclamation icon; Yes is the default button.
constexpr int32_t kConfirmFlags = platform::kMbYesNo | platform::kMbIconExclamation;
static_assert(kConfirmFlags == 52);

const char kTwoReturns[] = "\r\r";

void Reset(int32_t& lErrNum, std::string& sErrDesc) {
  lErrNum = 0;
  sErrDesc.clear();
}

// Turns whatever a step raised into the status convention. Runs inside a
// catch block; never throws.
void Store(int32_t& lErrNum, std::string& sErrDesc) noexcept {
  const Error caught = CaughtError();
  lErrNum = caught.Number();
  try {
    sErrDesc = caught.Description();
  } catch (...) {  // no memory for the text: the number still tells
  }
  // The convention reserves 0 for success and -1 for the helpers' own
  // messages; a platform error must never look like either.
  if (lErrNum == 0 || lErrNum == -1) lErrNum = err::kPathFileAccess;
}

// Runs one helper's body under the status convention: the status starts
// clear, and whatever the body raises ends up in it instead of leaving the
// helper.
template <typename Body>
bool Guarded(int32_t& lErrNum, std::string& sErrDesc, Body&& body) {
  Reset(lErrNum, sErrDesc);
  try {
    return body();
  } catch (...) {
    Store(lErrNum, sErrDesc);
    return false;
  }
}

// Trims the path a caller passed. An empty one is the helpers' own error
// (-1): nothing is ever deleted for it, and a folder path would otherwise
// turn into "\", the root of the drive.
bool TakePath(std::string& sPath, const char* what, int32_t& lErrNum, std::string& sErrDesc) {
  sPath = text::TrimSpaces(sPath);
  if (!sPath.empty()) return true;
  lErrNum = -1;
  sErrDesc = std::string("No ") + what + " specified to delete";
  return false;
}

// A folder path as the listing takes it: with its trailing backslash.
bool TakeFolderPath(std::string& sPath, int32_t& lErrNum, std::string& sErrDesc) {
  if (!TakePath(sPath, "directory", lErrNum, sErrDesc)) return false;
  if (sPath.back() != '\\') sPath += '\\';
  return true;
}

// Yes/No box about deleting `sPath`; No leaves everything as it is.
bool ConfirmedDelete(const std::string& sPath, const char* question, const char* title) {
  return platform::ShowMessageBox(sPath + kTwoReturns + question, kConfirmFlags, title) ==
         platform::kIdYes;
}

// Empties the folder `sPath` (ending in "\") and removes it. Files are
// deleted as they are met; a sub-folder is emptied and removed as soon as it
// is met, and then the listing starts again from the top: the nested call
// has used the one listing position of the process, and whatever was
// deleted no longer shows.
bool EmptyAndRemove(const std::string& sPath, int32_t& lErrNum, std::string& sErrDesc) {
  bool restart = true;
  while (restart) {
    restart = false;
    for (std::string name = platform::ListFirst(sPath, kMaskEverything); !name.empty();
         name = platform::ListNext()) {
      if (name == "." || name == "..") continue;
      const std::string entry = sPath + name;
      const uint32_t attributes = platform::GetAttributes(entry);
      // A link to a folder is removed as the entry it is and never emptied
      // through: on POSIX it has no directory bit and goes with the files
      // below; a Windows junction or folder link has the bit and is removed
      // like an empty folder, which leaves its target alone.
      if ((attributes & platform::kAttrDirectory) != 0 &&
          (attributes & platform::kAttrReparsePoint) != 0) {
        platform::RemoveFolder(entry);
        continue;
      }
      if ((attributes & platform::kAttrDirectory) != 0) {
        if (!DeleteSubFolder(entry, lErrNum, sErrDesc)) return false;
        restart = true;
        break;
      }
      platform::SetAttributes(entry, platform::kAttrNormal);
      platform::RemoveFile(entry);
    }
  }
  platform::SetAttributes(sPath, platform::kAttrNormal);
  platform::RemoveFolder(sPath);
  return true;
}

}  // namespace

bool DeleteFolder(std::string sPath, bool bConfirm, int32_t& lErrNum, std::string& sErrDesc) {
  return Guarded(lErrNum, sErrDesc, [&] {
    if (!TakeFolderPath(sPath, lErrNum, sErrDesc)) return false;
    // A folder that does not exist has nothing to delete and nothing to ask.
    if (platform::ListFirst(sPath, kMaskEverything).empty()) return true;
    // A link in the folder's place points outside the tree; nothing there is
    // ever emptied through it.
    if ((platform::GetAttributes(sPath.substr(0, sPath.size() - 1)) &
         platform::kAttrReparsePoint) != 0) {
      return true;
    }
    if (bConfirm &&
        !ConfirmedDelete(sPath,
                         "Are you sure you want to remove this folder and all of it's contents?",
                         "  Confirm Folder Delete")) {
      return true;
    }
    return EmptyAndRemove(sPath, lErrNum, sErrDesc);
  });
}

bool DeleteSubFolder(std::string sPath, int32_t& lErrNum, std::string& sErrDesc) {
  // Only ever meant for an existing sub-folder.
  return Guarded(lErrNum, sErrDesc, [&] {
    return TakeFolderPath(sPath, lErrNum, sErrDesc) && EmptyAndRemove(sPath, lErrNum, sErrDesc);
  });
}

bool DeleteFile(  // source-check: allow the installer's own helper
    std::string sPath, bool bConfirm, int32_t& lErrNum, std::string& sErrDesc) {
  return Guarded(lErrNum, sErrDesc, [&] {
    if (!TakePath(sPath, "file", lErrNum, sErrDesc)) return false;
    if (!FileExists(sPath)) return true;
    if (bConfirm && !ConfirmedDelete(sPath, "Are you sure you want to delete this file?",
                                     "  Confirm File Delete")) {
      return true;
    }
    platform::SetAttributes(sPath, platform::kAttrNormal);
    platform::RemoveFile(sPath);
    return true;
  });
}

bool FileExists(std::string sPath) {
  sPath = text::TrimSpaces(sPath);
  if (sPath.empty()) return false;
  return !platform::ListFirst(sPath, kMaskFiles).empty();
}

}  // namespace qv
