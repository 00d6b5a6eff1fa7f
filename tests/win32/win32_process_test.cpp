// The argument text of the command line as GetCommandLineA gives it (checked
// in a child process of this test program, started with a command line of
// the test's choosing), and where unzip32.dll may and may not come from.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/Error.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace {

using qv::platform::DynamicLibrary;
using qv::platform::ExecutableFolder;

constexpr char kEchoVariable[] = "QV_ECHO_ARGUMENTS_TO";

// In the child: write the argument text to the file named by the variable
// and end before any test runs.
const bool kIsEchoChild = [] {
  const std::string target = qv::platform::GetEnvironment(kEchoVariable);
  if (target.empty()) return false;
  const std::string text = qv::platform::CommandLineArguments();
  qv::platform::File out = qv::platform::File::CreateWrite(target);
  out.Write(text.data(), text.size());
  out.Close();
  qv::platform::ExitProcess(0);
}();

TEST(Win32CommandLineTest, ProgramNameAndLeadingBlanksAreSkipped) {
  ASSERT_FALSE(kIsEchoChild);
  qv::test::TempDir dir;
  char self[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  ::SetEnvironmentVariableA(kEchoVariable, dir.Join("arguments.txt").c_str());
  const std::pair<std::string, std::string> rows[] = {
      {"\"C:\\Program Files\\x.exe\" \"pavix://a/b.zip\"", "\"pavix://a/b.zip\""},
      {"x.exe pavix://a", "pavix://a"},
      {"x.exe  \t pavix://a b", "pavix://a b"},
      {"x.exe", ""},
      {"\"x y.exe\"", ""},
      {"x.exe \"\"", "\"\""},
  };
  for (auto [line, expected] : rows) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(::CreateProcessA(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &child));
    ::WaitForSingleObject(child.hProcess, 60000);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    EXPECT_EQ(dir.Read("arguments.txt"), expected) << line;
  }
  ::SetEnvironmentVariableA(kEchoVariable, nullptr);
}

TEST(Win32DynamicLibraryTest, OnlyTheProgramsFolderIsSearched) {
  EXPECT_EQ(DynamicLibrary::Load("unzip32").Path(), ExecutableFolder() + "\\unzip32.dll");
  // A working library planted in the current folder under a name that
  // exists nowhere else must not be picked up.
  qv::test::TempDir dir;
  ASSERT_TRUE(::CopyFileA((ExecutableFolder() + "\\unzip32fake_noversion.dll").c_str(),
                          dir.Join("quorvane_planted.dll").c_str(), FALSE));
  char previous[MAX_PATH + 1] = {};
  ::GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
  const qv::Error error = qv::test::Raised([] { DynamicLibrary::Load("quorvane_planted"); });
  ::SetCurrentDirectoryA(previous);
  EXPECT_EQ(error.Number(), qv::err::kDllLoad) << error.Description();
}

TEST(Win32DynamicLibraryTest, MissingEntryPointRaisesItsError) {
  // The stand-in library that lacks UzpVersion2.
  const auto library = DynamicLibrary::Load("unzip32fake_noversion");
  EXPECT_NE(library.Symbol("Wiz_SingleEntryUnzip"), nullptr);
  const qv::Error error = qv::test::Raised([&] { library.Symbol("UzpVersion2"); });
  EXPECT_EQ(error.Number(), qv::err::kDllEntryPoint);
  EXPECT_NE(error.Description().find("UzpVersion2"), std::string::npos);
}

}  // namespace
