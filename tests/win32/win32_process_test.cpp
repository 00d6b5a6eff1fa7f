// Loading unzip32.dll, the program's own folder, and the argument text of the
// command line as GetCommandLineA gives it (checked in a child process of
// this test program, started with a command line of the test's choosing).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/Error.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "support/TempDir.h"

namespace {

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

std::string OwnPath() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

// Runs this program with `commandLine` and gives what it saw as arguments.
std::string ArgumentsSeenByChild(const std::string& commandLine, const qv::test::TempDir& dir) {
  const std::string file = dir.Path() + "\\arguments.txt";
  ::SetEnvironmentVariableA(kEchoVariable, file.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  const BOOL started = ::CreateProcessA(OwnPath().c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process);
  ::SetEnvironmentVariableA(kEchoVariable, nullptr);
  if (!started) {
    ADD_FAILURE() << "cannot start the child: " << ::GetLastError();
    return "<not started>";
  }
  ::WaitForSingleObject(process.hProcess, 60000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return dir.Read("arguments.txt");
}

TEST(Win32CommandLineTest, ProgramNameAndLeadingBlanksAreSkipped) {
  ASSERT_FALSE(kIsEchoChild);
  qv::test::TempDir dir;
  struct Row {
    const char* name;
    std::string line;
    std::string expected;
  } rows[] = {
      {"quoted name with blanks, quoted address",
       "\"C:\\Program Files\\x.exe\" \"pavix://a/b.zip\"", "\"pavix://a/b.zip\""},
      {"plain name", "x.exe pavix://a", "pavix://a"},
      {"several blanks and a tab after the name", "x.exe  \t pavix://a b", "pavix://a b"},
      {"no arguments", "x.exe", ""},
      {"quoted name, no arguments", "\"x y.exe\"", ""},
      {"only two quotes", "x.exe \"\"", "\"\""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ArgumentsSeenByChild(row.line, dir), row.expected) << row.name;
  }
}

TEST(Win32ProcessTest, ExecutableFolderHoldsThisProgram) {
  const std::string folder = qv::platform::ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_EQ(OwnPath().rfind(folder + "\\", 0), 0u);
}

TEST(Win32ProcessTest, EnvironmentVariablesOfAnyLength) {
  const std::string longValue(1000, 'v');
  ::SetEnvironmentVariableA("QV_TEST_LONG", longValue.c_str());
  EXPECT_EQ(qv::platform::GetEnvironment("QV_TEST_LONG"), longValue);
  ::SetEnvironmentVariableA("QV_TEST_LONG", nullptr);
  EXPECT_EQ(qv::platform::GetEnvironment("QV_TEST_LONG"), "");
}

TEST(Win32DynamicLibraryTest, LoadsTheLibraryBesideTheProgram) {
  const auto library = qv::platform::DynamicLibrary::Load("unzip32");
  EXPECT_EQ(library.Path(), qv::platform::ExecutableFolder() + "\\unzip32.dll");
  EXPECT_NE(library.Symbol("UzpVersion2"), nullptr);
  EXPECT_NE(library.Symbol("Wiz_SingleEntryUnzip"), nullptr);
}

TEST(Win32DynamicLibraryTest, MissingLibraryAndEntryPointRaiseTheirErrors) {
  try {
    qv::platform::DynamicLibrary::Load("quorvane_no_such_library");
    ADD_FAILURE() << "a missing library loaded";
  } catch (const qv::Error& error) {
    EXPECT_EQ(error.Number(), qv::err::kDllLoad) << error.Description();
  }
  // The stand-in library that lacks UzpVersion2.
  const auto library = qv::platform::DynamicLibrary::Load("unzip32fake_noversion");
  EXPECT_NE(library.Symbol("Wiz_SingleEntryUnzip"), nullptr);
  try {
    library.Symbol("UzpVersion2");
    ADD_FAILURE() << "a missing entry point was found";
  } catch (const qv::Error& error) {
    EXPECT_EQ(error.Number(), qv::err::kDllEntryPoint);
    EXPECT_NE(error.Description().find("UzpVersion2"), std::string::npos);
  }
}

TEST(Win32DynamicLibraryTest, CurrentFolderIsNeverSearched) {
  // A working library planted in the current folder under a name that
  // exists nowhere else must not be picked up.
  qv::test::TempDir dir;
  const std::string planted = dir.Path() + "\\quorvane_planted.dll";
  ASSERT_TRUE(
      ::CopyFileA((qv::platform::ExecutableFolder() + "\\unzip32fake_noversion.dll").c_str(),
                  planted.c_str(), FALSE));
  char previous[MAX_PATH + 1] = {};
  ::GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
  bool raised = false;
  try {
    qv::platform::DynamicLibrary::Load("quorvane_planted");
  } catch (const qv::Error& error) {
    raised = error.Number() == qv::err::kDllLoad;
  }
  ::SetCurrentDirectoryA(previous);
  EXPECT_TRUE(raised);
}

}  // namespace
