// The installer's one form. It is never shown: loading it runs the whole
// install (Form_Load) and ends the process. Its controls are the run's
// working data.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "catalog/ScriptMerge.h"
#include "common/AppInfo.h"
#include "common/Error.h"
#include "common/Game.h"
#include "common/WorkingLists.h"

namespace qv {

class Form1 {
 public:
  static constexpr const char* kCaption = kApplicationTitle;

  StringList List1;   // output lines of the catalog script being merged
  StringList List2;   // object ids the catalog script already uses
  TextBox Text1;      // count of merged read-me files, as decimal text
  FileListBox File1;  // the extracted files of one kind

  // Runs the install and ends the process through EndProcess; never returns
  // normally.
  void Form_Load();

  // Merges one read-me file into the game's catalog script. Never raises:
  // whatever stops the merge comes back in the result.
  [[nodiscard]] MergeResult InstallFile(const std::string& FileToInstall);
  // True when `Value` is an id in use.
  bool UsedYet(const std::string& Value);
  // Where the merge's drawn object ids come from: a number uniform in [0, 1).
  // Empty means a generator re-seeded from the clock before every draw; tests
  // put a scripted source here.
  std::function<float()> Rnd;

  // Exit statuses of the process.
  static constexpr int kExitSuccess = 0;    // "Modular stairs successfully installed."
  static constexpr int kExitFailed = 1;     // the run ended with the final error message
  static constexpr int kExitStopped = 2;    // an error stopped the run (reported in a box)
  static constexpr int kExitNoAddress = 3;  // empty command line: nothing done, nothing shown

  // The argument text that makes the program a copy which merges read-mes
  // with an administrator's rights, for a run whose own merge was refused
  // for lack of them: this token, then each read-me's full path in double
  // quotes. Only the very first characters of the argument text count, and
  // only unquoted: for a "pavix:" link the system passes the address as the
  // one argument, in double quotes (or, registered without them, beginning
  // with the scheme), so no link can begin with it. The copy finds the
  // catalog script itself, as every run does; nothing it writes comes from
  // its command line.
  static constexpr const char* kMergeWithRights = "/quorvane-elevated-merge";
  // Exit statuses of that copy, read by the run that started it; besides
  // them kExitSuccess (every read-me merged, or nothing to take over) and
  // kExitStopped (an error stopped it, reported in its one box).
  static constexpr int kExitRefusedEvenSo = 4;   // no rights to write even so (70)
  static constexpr int kExitScriptInUse = 5;     // another program has a file open (55)
  static constexpr int kExitScriptReadOnly = 6;  // read-only script or medium (75)
  static constexpr int kExitDiskFull = 7;        // disk full (61)
  static constexpr int kExitMergeFailed = 8;     // the merge failed for another reason
  static constexpr int kExitNoScript = 9;        // it found no game or no catalog script
  static constexpr int kExitNoReadMes = 10;      // its command line named no read-me

  // Ends the process with the run's status. Empty: the real process end.
  // Tests put a function here that records the status instead.
  std::function<void(int)> EndProcess;

  // The whole run without the process end; gives the exit status.
  int Run();

 private:
  std::string GetTempFolder();
  void ReportError(const Error& error);

  // The steps of Run.
  int32_t Message(const std::string& text, int32_t flags);
  // Shows `why` (when given) and the final error message; the exit status.
  int Failed(const std::string& why = {});
  // The game, and its catalog script there; nothing (and the message that
  // says what is missing) when either is not.
  std::optional<GameInstall> FindGameToInstallInto();
  // Extracts the archive, copies its packages and merges its read-mes;
  // whether the stairs are installed.
  bool ExtractAndInstall(const GameInstall& game);
  // Copies the listed packages into `downloads`; nothing when every one was
  // copied, else whether the player let the one already there be replaced.
  std::optional<bool> CopyPackages(const std::string& downloads);
  void CleanUp();
  // Merges every listed read-me; gives the first failure to tell, after one
  // copy with an administrator's rights has merged those refused for lack
  // of rights, where the system has such copies.
  std::optional<MergeResult> MergeReadMes();
  std::optional<MergeResult> MergeWithRights(const std::vector<std::string>& readMes,
                                             MergeResult refusal);
  // The copy started with kMergeWithRights; `named` is what follows it.
  int RunWithRights(const std::string& named);

  // UsedYet's index of List2, so that the test takes constant time.
  catalog::UsedIdIndex usedIdIndex_;
};

}  // namespace qv
