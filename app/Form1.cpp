// The install run: from the address on the command line to the final
// message. The form is never shown; its load handler is the whole program.
#include "app/Form1.h"

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "app/DownloadToFile.h"
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

}  // namespace

int Form1::Run() {
  const std::string caption = kCaption;
  auto message = [&caption](const std::string& text, int32_t flags) {
    return platform::ShowMessageBox(text, flags, caption);
  };

  // Held from before the download to the end of the run, the report of an
  // error that stops it included.
  std::optional<platform::ExclusiveLock> runLock;
  try {
    // The system starts the program with the address as its argument text,
    // normally in double quotes. Nothing at all: nothing to do.
    const std::string arguments = platform::CommandLineArguments();
    if (arguments.empty()) return kExitNoAddress;

    bool bSuccess = false;

    // Every run uses the same archive and extraction folder: a second link
    // clicked while a run goes on waits here until that run has ended. A
    // temporary folder that cannot even hold the lock cannot hold the
    // download either, and ends the run the same way.
    try {
      runLock.emplace(platform::ExclusiveLock::TakeRunLock(GetTempFolder()));
    } catch (const Error&) {
      message(kUnableToDownload, kFlagsStop);
      message(kFailed, kFlagsStop);
      return kExitFailed;
    }
    // What a run killed before its end left half-written: no other run can
    // be writing here now. (The catalog script's folder is cleaned by the
    // merge, under the lock that covers it.)
    RemoveLeftoverTemporaries(GetTempFolder());

    // Nothing is fetched or copied for a game that is not there: packages in
    // a Downloads folder that no game reads, and a catalog that cannot take
    // their stairs, would only look like an install.
    const std::optional<GameInstall> game = FindGame();
    if (!game) {
      message("The Sims 2 was not found. " + WhereTheGameWasLookedFor(), kFlagsStop);
      message(kFailed, kFlagsStop);
      return kExitFailed;
    }
    const std::string script = CatalogScriptPath(*game);
    if (!FileExists(script)) {
      message("The catalog script of " + game->edition +
                  " was not found. It was looked for at:\r\n" + script,
              kFlagsStop);
      message(kFailed, kFlagsStop);
      return kExitFailed;
    }
    RemoveLeftoverTemporaries(DownloadsFolder(*game));

    // Quotes go wherever they stand; the scheme word is replaced only in the
    // exact case the web pages use, every occurrence.
    const std::string address =
        text::ReplaceAll(text::ReplaceAll(arguments, "\"", ""), "pavix:", "http:");

    if (!DownloadFile(address, GetTempFolder() + kArchiveName)) {
      message(kUnableToDownload, kFlagsStop);
      message(kFailed, kFlagsStop);
      return kExitFailed;
    }

    auto oUnzip = std::make_unique<CGUnzipFiles>();
    oUnzip->SetZipFileName(GetTempFolder() + kArchiveName);
    oUnzip->SetExtractDir(GetTempFolder() + kExtractFolderName);
    // Every file lands directly in the extraction folder, whatever folders
    // the archive stores, because that is where the run looks for them.
    oUnzip->SetHonorDirectories(false);

    [&] {
      if (oUnzip->Unzip("", "") != 0) return;

      File1.SetPath(GetTempFolder() + kExtractFolderName);
      File1.SetPattern("*.package");
      if (File1.ListCount() < 1) {
        message(kPackageNotFound, kFlagsStop);
        return;
      }

      const std::string downloads = MakeDownloadsFolder(*game);
      // The loop ends at the first package that is already installed,
      // whatever the answer: the ones before it stay copied, the ones after
      // it and the read-mes are left alone.
      for (int32_t index = 0; index < File1.ListCount();) {
        const std::string source = File1.Path() + "\\" + File1.List(index);
        const std::string target = downloads + File1.List(index);
        if (FileExists(target)) {
          if (message(kAlreadyInstalled, kFlagsQuestion) == platform::kIdYes) {
            platform::CopyFileReplacing(source, target);
            bSuccess = true;
          }
          return;
        }
        platform::CopyFileReplacing(source, target);
        ++index;
      }

      File1.SetPattern("*.txt");
      if (File1.ListCount() < 1) {
        message(kReadMeNotFound, kFlagsStop);
        return;
      }

      Text1.Text = "0";
      // Every read-me is merged that can be; the first that could not is
      // told, since stairs whose lines are not in the catalog do not appear
      // in the game, whatever was copied.
      std::optional<MergeResult> failed;
      for (int32_t index = 0; index < File1.ListCount(); ++index) {
        MergeResult merge = InstallFile(File1.Path() + "\\" + File1.List(index));
        if (merge.outcome == MergeResult::Outcome::kFailed && !failed) failed = std::move(merge);
      }
      if (failed) {
        message("The catalog script could not be changed:\r\n" + failed->catalogScript +
                    "\r\n\r\n" + (failed->error ? failed->error->Description() : ""),
                kFlagsStop);
        return;
      }
      bSuccess = true;
    }();

    // Clean-up; what it finds or fails to delete changes nothing in the outcome.
    oUnzip.reset();
    int32_t lErrNum = 0;
    std::string sErrDesc;
    DeleteFolder(GetTempFolder() + kExtractFolderName, false, lErrNum, sErrDesc);
    qv::DeleteFile(GetTempFolder() + kArchiveName, false, lErrNum, sErrDesc);

    if (bSuccess) {
      message(kSucceeded, kFlagsInformation);
      return kExitSuccess;
    }
    message(kFailed, kFlagsStop);
    return kExitFailed;
  } catch (const Error& error) {
    ReportError(error);
  } catch (const std::bad_alloc&) {
    ReportError(Error(err::kOutOfMemory, "Out of memory"));
  } catch (const std::exception& unexpected) {
    ReportError(Error(err::kInternal, std::string("Internal error: ") + unexpected.what()));
  }
  return kExitStopped;
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
