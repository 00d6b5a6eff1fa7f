// The install run: from the address on the command line to the final
// message. The form is never shown; its load handler is the whole program.
#include "app/Form1.h"

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/DownloadToFile.h"
#include "catalog/ScriptMerge.h"
#include "common/Error.h"
#include "common/Game.h"
#include "common/Leftovers.h"
#include "common/Text.h"
#include "common/modCommon.h"
#include "common/modPaths.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Lock.h"
#include "platform/Process.h"
#include "unzip/CGUnzipFiles.h"

namespace qv {

namespace {

constexpr const char kArchiveName[] = "DownloadedZIP.zip";
constexpr const char kExtractFolderName[] = "DownloadedFiles";

constexpr const char kUnableToDownload[] = "Unable to download file.";
constexpr const char kPackageNotFound[] = "Package file not found.";
constexpr const char kAlreadyInstalled[] =
    "Modular stairs already installed. Do you wish to replace it?";
constexpr const char kReadMeNotFound[] = "Read me not found.";
constexpr const char kSucceeded[] = "Modular stairs successfully installed.";
constexpr const char kFailed[] =
    "An error has occurred while trying to install the modular stairs.";

constexpr int32_t kFlagsStop = platform::kMbIconStop;                                  // 16
constexpr int32_t kFlagsInformation = platform::kMbIconInformation;                    // 64
constexpr int32_t kFlagsQuestion = platform::kMbYesNo | platform::kMbIconInformation;  // 68

// The source of the errors that tell what came of the copy with an
// administrator's rights.
constexpr const char kCopySource[] = "Form1::MergeWithRights";
// What to do about a file in use; the system's words for it do not say.
constexpr const char kCloseTheGame[] =
    "Another program has it open, perhaps the game: close it, then click the link again.";

// How the copy with an administrator's rights tells the run what stopped
// its merge: a status for each error number that the run words for the
// player, and those words.
struct CopyStatus {
  int status;
  int32_t number;
  const char* why;
};
constexpr CopyStatus kCopyStatuses[] = {
    {Form1::kExitRefusedEvenSo, err::kPermissionDenied,
     "Even with an administrator's rights, the system refused to change it."},
    {Form1::kExitScriptInUse, err::kFileInUse, kCloseTheGame},
    {Form1::kExitScriptReadOnly, err::kPathFileAccess,
     "Even with an administrator's rights it could not be changed: it is read-only, or the "
     "drive it is on is, or the system would not let it be replaced."},
    {Form1::kExitDiskFull, err::kDiskFull, "The disk is full."},
};

// Whether more rights could let the merge through: a plain refusal. A
// read-only script or medium (75), a file that the game holds open (55) or
// a full disk (61) stop an administrator just the same.
bool RightsWouldHelp(const MergeResult& merge) {
  return merge.error && merge.error->Number() == err::kPermissionDenied;
}

// The read-mes named after kMergeWithRights: each in double quotes,
// separated by blanks. Nothing when the text has any other form.
std::optional<std::vector<std::string>> NamedReadMes(std::string_view named) {
  std::vector<std::string> readMes;
  for (size_t at = 0;;) {
    while (at < named.size() && named[at] == ' ') ++at;
    if (at == named.size()) break;
    const size_t end = named[at] == '"' ? named.find('"', at + 1) : std::string_view::npos;
    if (end == std::string_view::npos || end == at + 1) return std::nullopt;
    readMes.emplace_back(named.substr(at + 1, end - at - 1));
    at = end + 1;
    if (at < named.size() && named[at] != ' ') return std::nullopt;
  }
  if (readMes.empty()) return std::nullopt;
  return readMes;
}

// The stop message for a catalog script that could not be changed: its
// path, and in words why.
std::string NotChanged(const MergeResult& failed) {
  std::string why = failed.error ? failed.error->Description() : "";
  if (failed.error && failed.error->Number() == err::kFileInUse &&
      failed.error->Source() != kCopySource) {
    why += std::string("\r\n\r\n") + kCloseTheGame;
  }
  return "The catalog script could not be changed:\r\n" + failed.catalogScript + "\r\n\r\n" + why;
}

}  // namespace

// The steps of a run, each ending it when it says so: the address, the run's
// turn, the game, the download, the extraction with the packages and the
// read-mes, the clean-up and the final message.
int Form1::Run() {
  // Held from before the download to the end of the run, the report of an
  // error that stops it included.
  std::optional<platform::ExclusiveLock> runLock;
  try {
    // The system starts the program with the address as its argument text,
    // normally in double quotes. Nothing at all: nothing to do.
    const std::string arguments = platform::CommandLineArguments();
    if (arguments.empty()) return kExitNoAddress;
    // Before the run's lock: the run that started this copy holds it while
    // it waits.
    if (const std::string_view token = kMergeWithRights;
        arguments.starts_with(token) &&
        (arguments.size() == token.size() || arguments[token.size()] == ' ')) {
      return RunWithRights(arguments.substr(token.size()));
    }

    // Every run uses the same archive and extraction folder: a second link
    // clicked while a run goes on waits here until that run has ended. A
    // temporary folder that cannot even hold the lock cannot hold the
    // download either, and ends the run the same way.
    try {
      runLock.emplace(platform::ExclusiveLock::TakeRunLock(GetTempFolder()));
    } catch (const Error&) {
      return Failed(kUnableToDownload);
    }
    // What a run killed before its end left half-written: no other run can
    // be writing here now. (The catalog script's folder is cleaned by the
    // merge, under the lock that covers it.)
    RemoveLeftoverTemporaries(GetTempFolder());

    const std::optional<GameInstall> game = FindGameToInstallInto();
    if (!game) return Failed();
    RemoveLeftoverTemporaries(DownloadsFolder(*game));

    // Quotes go wherever they stand; the scheme word is replaced only in the
    // exact case the web pages use, every occurrence.
    const std::string address =
        text::ReplaceAll(text::ReplaceAll(arguments, "\"", ""), "pavix:", "http:");
    if (!DownloadFile(address, GetTempFolder() + kArchiveName)) return Failed(kUnableToDownload);

    const bool bSuccess = ExtractAndInstall(*game);
    CleanUp();
    if (!bSuccess) return Failed();
    Message(kSucceeded, kFlagsInformation);
    return kExitSuccess;
  } catch (...) {
    ReportError(CaughtError());
  }
  return kExitStopped;
}

int32_t Form1::Message(const std::string& text, int32_t flags) {
  return platform::ShowMessageBox(text, flags, kCaption);
}

int Form1::Failed(const std::string& why) {
  if (!why.empty()) Message(why, kFlagsStop);
  Message(kFailed, kFlagsStop);
  return kExitFailed;
}

std::optional<GameInstall> Form1::FindGameToInstallInto() {
  // Nothing is fetched or copied for a game that is not there: packages in
  // a Downloads folder that no game reads, and a catalog that cannot take
  // their stairs, would only look like an install.
  std::optional<GameInstall> game = FindGame();
  if (!game) {
    Message("The Sims 2 was not found. " + WhereTheGameWasLookedFor(), kFlagsStop);
    return std::nullopt;
  }
  const std::string script = CatalogScriptPath(*game);
  if (!FileExists(script)) {
    Message("The catalog script of " + game->edition + " was not found. It was looked for at:\r\n" +
                script,
            kFlagsStop);
    return std::nullopt;
  }
  return game;
}

bool Form1::ExtractAndInstall(const GameInstall& game) {
  CGUnzipFiles oUnzip;
  oUnzip.SetZipFileName(GetTempFolder() + kArchiveName);
  oUnzip.SetExtractDir(GetTempFolder() + kExtractFolderName);
  // Every file lands directly in the extraction folder, whatever folders
  // the archive stores, because that is where the run looks for them.
  oUnzip.SetHonorDirectories(false);
  if (oUnzip.Unzip("", "") != 0) return false;

  File1.SetPath(GetTempFolder() + kExtractFolderName);
  File1.SetPattern("*.package");
  if (File1.ListCount() < 1) {
    Message(kPackageNotFound, kFlagsStop);
    return false;
  }
  if (const std::optional<bool> answered = CopyPackages(MakeDownloadsFolder(game))) {
    return *answered;
  }

  File1.SetPattern("*.txt");
  if (File1.ListCount() < 1) {
    Message(kReadMeNotFound, kFlagsStop);
    return false;
  }
  // Stairs whose lines are not in the catalog do not appear in the game,
  // whatever was copied: a failed merge is told.
  if (const std::optional<MergeResult> failed = MergeReadMes()) {
    Message(NotChanged(*failed), kFlagsStop);
    return false;
  }
  return true;
}

std::optional<bool> Form1::CopyPackages(const std::string& downloads) {
  // The loop ends at the first package that is already installed, whatever
  // the answer: the ones before it stay copied, the ones after it and the
  // read-mes are left alone.
  for (int32_t index = 0; index < File1.ListCount(); ++index) {
    const std::string source = File1.Path() + "\\" + File1.List(index);
    const std::string target = downloads + File1.List(index);
    if (FileExists(target)) {
      if (Message(kAlreadyInstalled, kFlagsQuestion) != platform::kIdYes) return false;
      platform::CopyFileReplacing(source, target);
      return true;
    }
    platform::CopyFileReplacing(source, target);
  }
  return std::nullopt;
}

void Form1::CleanUp() {
  // What it finds or fails to delete changes nothing in the outcome.
  int32_t lErrNum = 0;
  std::string sErrDesc;
  DeleteFolder(GetTempFolder() + kExtractFolderName, false, lErrNum, sErrDesc);
  qv::DeleteFile(GetTempFolder() + kArchiveName, false, lErrNum, sErrDesc);
}

MergeResult Form1::InstallFile(const std::string& FileToInstall) {
  return catalog::MergeReadMe(FileToInstall, {.lines = List1,
                                              .usedIds = List2,
                                              .usedIdIndex = usedIdIndex_,
                                              .mergedCount = Text1,
                                              .draw = Rnd});
}

bool Form1::UsedYet(const std::string& Value) {
  return usedIdIndex_.Contains(List2, Value);
}

std::optional<MergeResult> Form1::MergeReadMes() {
  Text1.Text = "0";
  // Every read-me is merged that can be. Below a folder that only an
  // administrator may change (Program Files on Windows), the merges are
  // refused for lack of rights: those are done together afterwards by one
  // copy of the program with an administrator's rights, so the player is
  // asked once, however many read-mes there are, and only where it helps.
  std::optional<MergeResult> failed;
  std::optional<MergeResult> refusal;
  std::vector<std::string> refused;
  for (int32_t index = 0; index < File1.ListCount(); ++index) {
    const std::string readMe = File1.Path() + "\\" + File1.List(index);
    MergeResult merge = InstallFile(readMe);
    if (merge.outcome != MergeResult::Outcome::kFailed) continue;
    // A path with a double quote could not be named to the copy; Windows
    // allows none in a name.
    if (RightsWouldHelp(merge) && platform::CanElevate() && readMe.find('"') == std::string::npos) {
      refused.push_back(readMe);
      if (!refusal) refusal = std::move(merge);
    } else if (!failed) {
      failed = std::move(merge);
    }
  }
  // What more rights cannot mend fails the run anyway: no one is asked.
  if (failed || !refusal) return failed;
  return MergeWithRights(refused, std::move(*refusal));
}

std::optional<MergeResult> Form1::MergeWithRights(const std::vector<std::string>& readMes,
                                                  MergeResult refusal) {
  std::string arguments = kMergeWithRights;
  for (const std::string& readMe : readMes) arguments += " \"" + readMe + "\"";
  const platform::ElevatedRun run = platform::RunElevated(arguments);
  auto failed = [&refusal](int32_t number, const std::string& why) {
    refusal.error = Error(number, why, kCopySource);
    return std::optional<MergeResult>(std::move(refusal));
  };
  switch (run.outcome) {
    case platform::ElevatedRun::Outcome::kDeclined:
      return failed(err::kPermissionDenied,
                    "Only an administrator may change it. The installer asked for an "
                    "administrator's rights, and they were not given.");
    case platform::ElevatedRun::Outcome::kFailed:
      return failed(err::kPermissionDenied,
                    "Only an administrator may change it, and the installer could not be "
                    "started with an administrator's rights: " +
                        run.failure);
    case platform::ElevatedRun::Outcome::kEnded:
      break;
  }
  if (run.exitStatus == kExitSuccess) return std::nullopt;
  for (const CopyStatus& known : kCopyStatuses) {
    if (known.status == run.exitStatus) return failed(known.number, known.why);
  }
  const std::string copy = "The installer, started with an administrator's rights, ";
  switch (run.exitStatus) {
    case kExitNoScript:
      return failed(err::kFileNotFound, copy +
                                            "did not find the game's catalog script: that "
                                            "administrator's account sees no game there.");
    case kExitMergeFailed:
      return failed(err::kPathFileAccess, copy + "could not merge the read-me either.");
    case kExitStopped:
      return failed(err::kInternal, copy + "was stopped by the error it reported.");
    default:
      return failed(err::kInternal,
                    copy + "ended with status " + std::to_string(run.exitStatus) + ".");
  }
}

int Form1::RunWithRights(const std::string& named) {
  const std::optional<std::vector<std::string>> readMes = NamedReadMes(named);
  if (!readMes) return kExitNoReadMes;
  const std::optional<GameInstall> game = FindGame();
  if (!game || !FileExists(CatalogScriptPath(*game))) return kExitNoScript;
  Text1.Text = "0";
  std::optional<Error> failure;
  for (const std::string& readMe : *readMes) {
    MergeResult merge = InstallFile(readMe);
    if (merge.outcome == MergeResult::Outcome::kFailed && !failure) failure = merge.error;
  }
  if (!failure) return kExitSuccess;
  for (const CopyStatus& known : kCopyStatuses) {
    if (known.number == failure->Number()) return known.status;
  }
  return kExitMergeFailed;
}

void Form1::ReportError(const Error& error) {
  // An error the run does not handle stops it here: no clean-up, no final
  // message, and what was copied stays copied.
  std::string text =
      "Run-time error '" + std::to_string(error.Number()) + "':\r\n\r\n" + error.Description();
  try {
    platform::ShowMessageBox(text, platform::kMbIconStop, kCaption);
  } catch (...) {
    // Nothing left to tell the user with; the exit status still says it.
  }
}

void Form1::Form_Load() {
  const int status = Run();
  if (EndProcess) {
    EndProcess(status);
  } else {
    platform::ExitProcess(status);
  }
}

std::string Form1::GetTempFolder() {
  constexpr uint32_t kBufferLength = 255;
  std::string buffer(kBufferLength, '\0');
  const uint32_t n = platform::GetTempPathA(kBufferLength, buffer.data());
  // A path longer than the buffer is not written, so the result is then the
  // 255 NUL characters, as it is when the call fails.
  if (n > 0) buffer.resize(n > kBufferLength ? kBufferLength : n);
  return buffer;
}

}  // namespace qv
