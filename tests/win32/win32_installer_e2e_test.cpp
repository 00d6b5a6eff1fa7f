// The real quorvane-installer.exe started as the system starts it for a
// "pavix:" address: the archive comes from the loopback server that the test
// harness runs on the Linux side (QV_HTTP_STATE names its folder), the game
// is found through the registry value this test writes, the packages land in
// Wine's own documents folder, and the installer's real message boxes are
// answered by a companion thread that finds each box by its caption and
// presses one of its buttons.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <shlobj.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/CatalogFixtures.h"
#include "support/TempDir.h"
#include "support/ZipWriter.h"

namespace {

constexpr const char kCaption[] = "Quorvane Modular Stair Installer";
constexpr const char kAlreadyInstalled[] =
    "Modular stairs already installed. Do you wish to replace it?";
constexpr const char kSucceeded[] = "Modular stairs successfully installed.";
constexpr const char kFailed[] =
    "An error has occurred while trying to install the modular stairs.";
constexpr DWORD kExitSuccess = 0;
constexpr DWORD kExitFailed = 1;
constexpr const char kCatalog[] = "# Modular stairs\r\nmodularStairs 1\r\nobjectID 100\r\n";
constexpr const char kReadMe[] =
    "# Oak stairs\r\nmodularStairs 42\r\nobjectID 7001\r\ncatalogTextIndex 3\r\n";
// Wine's first start of a GUI program in a fresh prefix can take a while.
constexpr auto kRunLimit = std::chrono::seconds(90);

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
  ASSERT_TRUE(::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &put, nullptr));
  ::CloseHandle(file);
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Package(const std::string& name) {
  return "DBPF package " + name + std::string(4096, 'p');
}

// The text of a message box: its one static control with text (the icon is
// a static control without).
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

std::string BoxText(HWND box) {
  std::string text;
  ::EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&text));
  return text;
}

struct Answer {
  const char* text;  // the box expected
  int button;        // IDOK, IDYES, IDNO
};

// Answers the installer's boxes in turn until it ends; returns the texts of
// the boxes it saw. A box beyond the script gets its first button of OK, No
// and Cancel, so the installer always ends. Ends the process when it runs
// past the limit.
std::vector<std::string> AnswerBoxes(HANDLE process, const std::vector<Answer>& script) {
  std::vector<std::string> seen;
  const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
  while (::WaitForSingleObject(process, 50) == WAIT_TIMEOUT) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the installer did not end; boxes seen: " << seen.size();
      ::TerminateProcess(process, 99);
      break;
    }
    HWND box = ::FindWindowA("#32770", kCaption);
    if (box == nullptr || !::IsWindowVisible(box)) continue;
    const std::string text = BoxText(box);
    if (text.empty()) continue;  // still being built
    seen.push_back(text);
    int button = 0;
    if (seen.size() <= script.size()) {
      button = script[seen.size() - 1].button;
    } else {
      for (int fallback : {IDOK, IDNO, IDCANCEL}) {
        if (::GetDlgItem(box, fallback) != nullptr) {
          button = fallback;
          break;
        }
      }
    }
    HWND control = ::GetDlgItem(box, button);
    if (control == nullptr) {
      ADD_FAILURE() << "box \"" << text << "\" has no button " << button;
      ::TerminateProcess(process, 98);
      break;
    }
    ::SendMessageA(control, BM_CLICK, 0, 0);
    // The same box must not be answered twice: wait until it is gone.
    while (::IsWindow(box) && ::WaitForSingleObject(process, 20) == WAIT_TIMEOUT &&
           std::chrono::steady_clock::now() < deadline) {
    }
  }
  return seen;
}

class InstallerEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string state = Environment("QV_HTTP_STATE");
    if (state.empty()) GTEST_FAIL() << "QV_HTTP_STATE not set: run through CTest";
    port_ = ReadAll(state + "\\port");
    served_ = state + "\\root\\stairs-" + std::to_string(::GetCurrentProcessId()) + ".zip";

    char module[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameA(nullptr, module, MAX_PATH), 0u);
    installer_ = module;
    installer_ = installer_.substr(0, installer_.find_last_of('\\') + 1) + "quorvane-installer.exe";
    ASSERT_TRUE(Exists(installer_)) << installer_;

    // The game: a folder with the catalog script, named by the registry.
    game_ = dir_.Path() + "\\The Sims 2\\";
    dir_.Write("The Sims 2\\TSData\\Res\\Catalog\\Scripts\\modularstairs.txt", kCatalog);
    registry_.emplace("", game_);

    // The packages' folder below Wine's own documents folder.
    char documents[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
    downloads_ = std::string(documents) + "\\EA Games\\The Sims 2\\Downloads\\";
    ASSERT_EQ(::SHCreateDirectoryExA(nullptr, downloads_.c_str(), nullptr) == ERROR_SUCCESS ||
                  Exists(downloads_),
              true)
        << downloads_;
    EmptyDownloads();
  }
  void TearDown() override {
    EmptyDownloads();
    ::DeleteFileA(served_.c_str());
    registry_.reset();
  }

  static std::string Environment(const char* name) {
    char value[1024] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? value : "";
  }

  void EmptyDownloads() {
    WIN32_FIND_DATAA data{};
    HANDLE search = ::FindFirstFileA((downloads_ + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileA((downloads_ + data.cFileName).c_str());
      }
    } while (::FindNextFileA(search, &data));
    ::FindClose(search);
  }

  // Starts the installer as the "pavix" scheme's command would, answers its
  // boxes, and gives its exit code.
  DWORD Run(const std::vector<Answer>& script, std::vector<std::string>& boxes) {
    std::string commandLine = "\"" + installer_ + "\" \"pavix://127.0.0.1:" + port_ + "/" +
                              served_.substr(served_.find_last_of('\\') + 1) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
      ADD_FAILURE() << "cannot start " << commandLine << ": error " << ::GetLastError();
      return 99;
    }
    ::CloseHandle(process.hThread);
    boxes = AnswerBoxes(process.hProcess, script);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 99;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    return code;
  }

  bool TempIsClean() const {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    return !Exists(std::string(temp) + "DownloadedZIP.zip") &&
           !Exists(std::string(temp) + "DownloadedFiles");
  }
  std::string Catalog() const {
    return ReadAll(game_ + "TSData\\Res\\Catalog\\Scripts\\modularstairs.txt");
  }

  qv::test::TempDir dir_;
  std::optional<qv::test::GameRegistry> registry_;
  std::string port_;
  std::string served_;
  std::string installer_;
  std::string game_;
  std::string downloads_;
};

TEST_F(InstallerEndToEnd, PavixAddressInstallsThePackagesAndMergesTheReadMe) {
  qv::test::ZipWriter zip;
  zip.Add("Stairs/Oak.package", Package("Oak.package"));
  zip.Add("Stairs/ReadMe.txt", kReadMe);
  zip.Save(served_);

  std::vector<std::string> boxes;
  EXPECT_EQ(Run({{kSucceeded, IDOK}}, boxes), kExitSuccess);
  EXPECT_EQ(boxes, std::vector<std::string>{kSucceeded});
  EXPECT_EQ(ReadAll(downloads_ + "Oak.package"), Package("Oak.package"));
  const std::string catalog = Catalog();
  EXPECT_EQ(catalog.substr(0, sizeof kCatalog - 1), kCatalog);
  EXPECT_NE(catalog.find("\r\nmodularStairs 42\r\nobjectID 7001\r\ncatalogTextIndex 3\r\n"),
            std::string::npos)
      << catalog;
  EXPECT_TRUE(TempIsClean());
}

TEST_F(InstallerEndToEnd, ExistingPackageQuestionAnsweredYesOrNo) {
  qv::test::ZipWriter zip;
  zip.Add("Stairs/A.package", Package("A.package"));
  zip.Add("Stairs/B.package", Package("B.package"));
  zip.Add("Stairs/ReadMe.txt", kReadMe);
  zip.Save(served_);
  struct Row {
    const char* name;
    int answer;
    DWORD exitCode;
    const char* finalBox;
    std::string packageB;
  };
  const Row rows[] = {
      {"No keeps the old package and ends in the error", IDNO, kExitFailed, kFailed, "old B"},
      {"Yes replaces it", IDYES, kExitSuccess, kSucceeded, Package("B.package")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EmptyDownloads();
    WriteAll(downloads_ + "B.package", "old B");
    std::vector<std::string> boxes;
    EXPECT_EQ(Run({{kAlreadyInstalled, row.answer}, {row.finalBox, IDOK}}, boxes), row.exitCode);
    EXPECT_EQ(boxes, (std::vector<std::string>{kAlreadyInstalled, row.finalBox}));
    EXPECT_EQ(ReadAll(downloads_ + "A.package"), Package("A.package"));
    EXPECT_EQ(ReadAll(downloads_ + "B.package"), row.packageB);
    EXPECT_EQ(Catalog(), kCatalog) << "no read-me is merged after the question";
    EXPECT_TRUE(TempIsClean());
  }
}

}  // namespace
