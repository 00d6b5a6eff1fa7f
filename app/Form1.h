// The installer's one form. It is never shown: loading it runs the whole
// install (Form_Load) and ends the process. Its controls are the run's
// working data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/WorkingLists.h"
#include "common/AppInfo.h"

namespace qv {

class Form1 {
 public:
  static constexpr const char* kCaption = kApplicationTitle;

  StringList List1;  // output lines of the catalog script being merged
  StringList List2;  // object ids the catalog script already uses
  TextBox Text1;     // count of merged read-me files, as decimal text
  FileListBox File1; // the extracted files of one kind

  // Runs the install and ends the process through EndProcess; never returns
  // normally.
  void Form_Load();

  // Merges one read-me file into the game's catalog script.
  void InstallFile(const std::string& FileToInstall);
  // True when `Value` is an id in use.
  bool UsedYet(const std::string& Value);

  // Ends the process; tests put a function here that throws instead.
  std::function<void(int)> EndProcess;

 private:
  std::string GetTempFolder();
};

}  // namespace qv
