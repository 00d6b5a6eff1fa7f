// Two links clicked at once: two real quorvane-installer.exe processes
// started together under Wine for two archives of the loopback server
// (QV_HTTP_STATE names its folder), which waits a second before it answers.
// Both must end with the success message, with every package installed and
// both read-mes merged under distinct ids: the second waits for the first. What killed runs leave
// behind (the installer's temporary names in the temporary folder, the Downloads folder and beside
// the catalog script) is gone afterwards; look-alikes stay.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <shlobj.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Lock.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"
#include "support/ZipWriter.h"

namespace {

constexpr const char kCaption[] = "Quorvane Modular Stair Installer";
constexpr const char kSucceeded[] = "Modular stairs successfully installed.";
constexpr const char kCatalog[] = "# Modular stairs\r\nmodularStairs 1\r\nobjectID 100\r\n";
constexpr auto kRunLimit = std::chrono::seconds(120);
constexpr size_t kRuns = 2;

std::string ReadAll(const std::string& path) {
  std::string content;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    content.append(buffer, got);
  ::CloseHandle(file);
  return content;
}

void WriteAll(const std::string& path, const std::string& content) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << ": error " << ::GetLastError();
  DWORD put = 0;
  ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &put, nullptr);
  ::CloseHandle(file);
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Environment(const char* name) {
  char value[1024] = {};
  const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? value : "";
}

std::string Package(const std::string& name) {
  return "DBPF package " + name + std::string(64 * 1024, 'p');
}

BOOL CALLBACK FindBoxText(HWND child, LPARAM found) {
  char className[32] = {};
  ::GetClassNameA(child, className, sizeof className);
  char buffer[1024] = {};
  if (lstrcmpiA(className, "Static") == 0 && ::GetWindowTextA(child, buffer, sizeof buffer) > 0) {
    *reinterpret_cast<std::string*>(found) = buffer;
    return FALSE;
  }
  return TRUE;
}

struct Box {
  HWND window;
  DWORD process;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM boxes) {
  char className[16] = {};
  char title[128] = {};
  ::GetClassNameA(window, className, sizeof className);
  ::GetWindowTextA(window, title, sizeof title);
  if (lstrcmpA(className, "#32770") == 0 && lstrcmpA(title, kCaption) == 0 &&
      ::IsWindowVisible(window)) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    reinterpret_cast<std::vector<Box>*>(boxes)->push_back({window, process});
  }
  return TRUE;
}

// The installer's own temporary names, in `folder` (ends with "\").
std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> found;
  WIN32_FIND_DATAA data{};
  HANDLE search = ::FindFirstFileA((folder + ".qv-*.tmp").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    found.emplace_back(data.cFileName);
  } while (::FindNextFileA(search, &data));
  ::FindClose(search);
  return found;
}

class ConcurrentRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string state = Environment("QV_HTTP_STATE");
    if (state.empty()) GTEST_FAIL() << "QV_HTTP_STATE not set: run through CTest";
    state_ = state;
    port_ = ReadAll(state + "\\port");
    char module[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameA(nullptr, module, MAX_PATH), 0u);
    installer_ = module;
    installer_ = installer_.substr(0, installer_.find_last_of('\\') + 1) + "quorvane-installer.exe";
    ASSERT_TRUE(Exists(installer_)) << installer_;
    game_ = dir_.Path() + "\\The Sims 2\\";
    dir_.Write("The Sims 2\\TSData\\Res\\Catalog\\Scripts\\modularstairs.txt", kCatalog);
    registry_.emplace("", game_);
    char documents[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
    downloads_ = std::string(documents) + "\\EA Games\\The Sims 2\\Downloads\\";
    ::SHCreateDirectoryExA(nullptr, downloads_.c_str(), nullptr);
    ASSERT_TRUE(Exists(downloads_)) << downloads_;
  }
  void TearDown() override {
    for (const auto& name : packages_) ::DeleteFileA((downloads_ + name).c_str());
    for (const auto& path : served_) ::DeleteFileA(path.c_str());
    registry_.reset();
  }

  std::string Served(size_t run) {
    const std::string name = "concurrent-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(run) + ".zip";
    served_.push_back(state_ + "\\root\\" + name);
    return name;
  }

  std::string CatalogFolder() const { return game_ + "TSData\\Res\\Catalog\\Scripts\\"; }

  qv::test::TempDir dir_;
  std::optional<qv::test::GameRegistry> registry_;
  std::string state_;
  std::string port_;
  std::string installer_;
  std::string game_;
  std::string downloads_;
  std::vector<std::string> packages_;
  std::vector<std::string> served_;
};

TEST_F(ConcurrentRuns, TwoLinksAtOnceBothInstallEverything) {
  char tempBuffer[MAX_PATH] = {};
  ASSERT_GT(::GetTempPathA(MAX_PATH, tempBuffer), 0u);
  const std::string temp = tempBuffer;
  const std::string places[] = {temp, downloads_, CatalogFolder()};
  // Left by runs killed while writing; and names that only look like that.
  for (const auto& place : places) {
    WriteAll(place + ".qv-0000beef-0001.tmp", "half a file");
    WriteAll(place + ".qv-notes.tmp", "mine");
  }

  std::vector<std::string> commandLines;
  for (size_t run = 0; run < kRuns; ++run) {
    const std::string set = "Set" + std::to_string(run);
    qv::test::ZipWriter zip;
    for (const char* part : {"a", "b"}) {
      const std::string package = set + part + ".package";
      packages_.push_back(package);
      zip.Add("Stairs/" + package, Package(package));
    }
    zip.Add("Stairs/ReadMe.txt",
            "# " + set + "\r\nmodularStairs 1\r\nobjectID " + std::to_string(9000 + run) + "\r\n");
    const std::string name = Served(run);
    zip.Save(served_.back());
    commandLines.push_back("\"" + installer_ + "\" \"pavix://127.0.0.1:" + port_ + "/slow/" + name +
                           "\"");
  }

  // Both started before either is looked at.
  std::vector<PROCESS_INFORMATION> processes(kRuns);
  for (size_t run = 0; run < kRuns; ++run) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ASSERT_TRUE(::CreateProcessA(nullptr, commandLines[run].data(), nullptr, nullptr, FALSE, 0,
                                 nullptr, nullptr, &startup, &processes[run]))
        << commandLines[run] << ": error " << ::GetLastError();
    ::CloseHandle(processes[run].hThread);
  }

  // Every box of either process is answered with its first button of OK,
  // No and Cancel, so that both always end.
  std::vector<std::vector<std::string>> seen(kRuns);
  std::set<HWND> answered;
  const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
  for (;;) {
    bool running = false;
    for (const auto& process : processes) {
      running = running || ::WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
    }
    if (!running) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the installers did not end";
      for (const auto& process : processes) ::TerminateProcess(process.hProcess, 99);
      break;
    }
    std::vector<Box> boxes;
    ::EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
    for (const Box& box : boxes) {
      std::string text;
      ::EnumChildWindows(box.window, FindBoxText, reinterpret_cast<LPARAM>(&text));
      if (text.empty() || answered.count(box.window) != 0) continue;
      for (size_t run = 0; run < kRuns; ++run) {
        if (processes[run].dwProcessId == box.process) seen[run].push_back(text);
      }
      for (int button : {IDOK, IDNO, IDCANCEL}) {
        if (HWND control = ::GetDlgItem(box.window, button)) {
          answered.insert(box.window);
          ::PostMessageA(control, BM_CLICK, 0, 0);
          break;
        }
      }
    }
    ::Sleep(50);
  }

  for (size_t run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    DWORD code = 99;
    ::WaitForSingleObject(processes[run].hProcess, INFINITE);
    ::GetExitCodeProcess(processes[run].hProcess, &code);
    ::CloseHandle(processes[run].hProcess);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(seen[run], std::vector<std::string>{kSucceeded});
  }
  for (const auto& package : packages_) {
    EXPECT_EQ(ReadAll(downloads_ + package), Package(package)) << package;
  }
  const std::string catalog = ReadAll(CatalogFolder() + "modularstairs.txt");
  EXPECT_EQ(catalog.substr(0, sizeof kCatalog - 1), kCatalog);
  std::vector<std::string> ids;
  std::istringstream lines(catalog);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("modularStairs ", 0) == 0) ids.push_back(line);
  }
  EXPECT_EQ(ids.size(), 1u + kRuns) << catalog;
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size()) << catalog;
  for (size_t run = 0; run < kRuns; ++run) {
    EXPECT_NE(catalog.find("objectID " + std::to_string(9000 + run) + "\r\n"), std::string::npos)
        << catalog;
  }
  for (const auto& place : places) {
    EXPECT_EQ(Temporaries(place), std::vector<std::string>{".qv-notes.tmp"}) << place;
    ::DeleteFileA((place + ".qv-notes.tmp").c_str());
  }
  EXPECT_FALSE(Exists(temp + "DownloadedZIP.zip"));
  EXPECT_FALSE(Exists(temp + "DownloadedFiles"));
}

bool WaitFor(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::Sleep(20);
  }
  return true;
}

TEST(MergeLock, ExcludesAPosixProcessOnTheSameFile) {
  const std::string state = Environment("QV_LOCK_PEER_STATE");
  if (state.empty()) GTEST_FAIL() << "QV_LOCK_PEER_STATE not set: run through CTest";
  const std::string script = state + "\\modularstairs.txt";
  ASSERT_TRUE(WaitFor(state + "\\held"));
  WriteAll(state + "\\windows-waits", "");
  {
    // Waits until the POSIX process has let go, a second from now.
    const auto lock = qv::platform::ExclusiveLock::TakeFileLock(script);
    EXPECT_TRUE(Exists(state + "\\released")) << "got the lock while the POSIX process held it";
    WriteAll(state + "\\windows-holds", "");
    ASSERT_TRUE(WaitFor(state + "\\posix-try"));
    EXPECT_EQ(ReadAll(state + "\\posix-try"), "refused");
  }
  WriteAll(state + "\\windows-released", "");
  ASSERT_TRUE(WaitFor(state + "\\posix-after"));
  EXPECT_EQ(ReadAll(state + "\\posix-after"), "granted");
}

}  // namespace
