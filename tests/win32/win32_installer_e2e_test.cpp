// The real quorvane-installer.exe started as the system starts it for a
// "pavix:" address: the archive comes from the loopback server that the test
// harness runs on the Linux side (QV_HTTP_STATE names its folder), the game
// is found through the registry value this test writes, the packages land in
// Wine's own documents folder, and the installer's real boxes are answered
// as a user would: each is found by its caption, its text, icon and buttons
// are read, text is typed into an input box, and a button is pressed.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <shlobj.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
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
constexpr const char kUnableToDownload[] = "Unable to download file.";
constexpr const char kPasswordPrompt[] = "Please Enter The Password!";
// The flags each box stands for: its icon plus its buttons.
constexpr int kStop = MB_ICONHAND;
constexpr int kInformation = MB_ICONASTERISK;
constexpr int kQuestion = MB_YESNO | MB_ICONASTERISK;
constexpr int kInputBox = -1;
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

// A box as the user meets it: its text, and the message-box flags that its
// icon and buttons stand for (kInputBox for an input box).
struct Seen {
  std::string text;
  int flags = 0;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Seen& box) {
  return out << "{\"" << box.text << "\", " << box.flags << "}";
}

struct Answer {
  int button;              // IDOK, IDYES, IDNO
  std::string typed = "";  // typed into an input box first
};

std::string ClassOf(HWND window) {
  char name[32] = {};
  ::GetClassNameA(window, name, sizeof name);
  return name;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM found) {
  reinterpret_cast<std::vector<HWND>*>(found)->push_back(child);
  return TRUE;
}

std::vector<HWND> Children(HWND box) {
  std::vector<HWND> children;
  ::EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

// The pixels of a window as they are on the screen, 32 bits each.
std::vector<uint32_t> Capture(HDC source, int x, int y, int width, int height, HDC target) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(target, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(target, bitmap);
  ::BitBlt(target, 0, 0, width, height, source, x, y, SRCCOPY);
  std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits),
                               static_cast<const uint32_t*>(bits) + width * height);
  ::SelectObject(target, old);
  ::DeleteObject(bitmap);
  return pixels;
}

// Which of the system's message-box icons the icon control shows: the one
// that, drawn over the control's own background, gives exactly the pixels
// on the screen; 0 while none does (the box is not painted yet). Another
// process's icon handle means nothing here, so the pixels are compared.
int IconFlag(HWND icon) {
  RECT area{};
  ::GetClientRect(icon, &area);
  const int width = area.right;
  const int height = area.bottom;
  if (width <= 0 || height <= 0) return 0;
  // Read off the screen: under Wine another process's window cannot be
  // read through its own device context.
  POINT origin{0, 0};
  ::ClientToScreen(icon, &origin);
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  const std::vector<uint32_t> shown = Capture(screen, origin.x, origin.y, width, height, memory);
  ::ReleaseDC(nullptr, screen);
  const struct {
    int flag;
    LPCSTR id;
  } icons[] = {{MB_ICONHAND, IDI_HAND},
               {MB_ICONQUESTION, IDI_QUESTION},
               {MB_ICONEXCLAMATION, IDI_EXCLAMATION},
               {MB_ICONASTERISK, IDI_ASTERISK}};
  int shownIcon = 0;
  for (const auto& candidate : icons) {
    // The background as the corner shows it: the icons leave their corners
    // transparent.
    const uint32_t background = shown[0];
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    std::fill_n(static_cast<uint32_t*>(bits), width * height, background);
    ::DrawIconEx(memory, 0, 0, ::LoadIconA(nullptr, candidate.id), width, height, 0, nullptr,
                 DI_NORMAL);
    ::GdiFlush();
    const auto* drawn = static_cast<const uint32_t*>(bits);
    bool same = true;
    for (size_t i = 0; i < shown.size() && same; ++i)
      same = (shown[i] & 0xFFFFFF) == (drawn[i] & 0xFFFFFF);
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    if (same) shownIcon = candidate.flag;
  }
  ::DeleteDC(memory);
  return shownIcon;
}

// Reads a box: the text of its one static control with text, its buttons
// and, for a message box, its icon. Empty text while it is still being built.
Seen Read(HWND box) {
  Seen seen;
  bool ok = false, yes = false, no = false, cancel = false, edit = false;
  HWND icon = nullptr;
  for (HWND child : Children(box)) {
    const std::string kind = ClassOf(child);
    if (lstrcmpiA(kind.c_str(), "Button") == 0) {
      const int id = ::GetDlgCtrlID(child);
      ok |= id == IDOK;
      yes |= id == IDYES;
      no |= id == IDNO;
      cancel |= id == IDCANCEL;
    } else if (lstrcmpiA(kind.c_str(), "Edit") == 0) {
      edit = true;
    } else if (lstrcmpiA(kind.c_str(), "Static") == 0) {
      if ((::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        icon = child;
      } else if (seen.text.empty()) {
        char text[1024] = {};
        ::GetWindowTextA(child, text, sizeof text);
        seen.text = text;
      }
    }
  }
  if (edit) {
    seen.flags = kInputBox;
    return seen;
  }
  seen.flags = yes && no ? (cancel ? MB_YESNOCANCEL : MB_YESNO) : ok && cancel ? MB_OKCANCEL : 0;
  if (icon != nullptr) {
    // The icon is drawn once the box is shown; until it is, no candidate
    // matches and the first read is taken again.
    for (int attempt = 0; attempt < 20; ++attempt) {
      ::RedrawWindow(icon, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      const int flag = IconFlag(icon);
      if (flag != 0) {
        seen.flags |= flag;
        break;
      }
      ::Sleep(50);
    }
  }
  return seen;
}

// Types `text` into the box's edit field, a character at a time.
void Type(HWND box, const std::string& text) {
  for (HWND child : Children(box)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Edit") != 0) continue;
    for (const char c : text) ::SendMessageA(child, WM_CHAR, static_cast<unsigned char>(c), 1);
    // Another process's edit field answers only when asked for its text.
    char typed[256] = {};
    ::SendMessageA(child, WM_GETTEXT, sizeof typed, reinterpret_cast<LPARAM>(typed));
    EXPECT_EQ(std::string(typed), text) << "the input box did not take the typing";
    return;
  }
  ADD_FAILURE() << "the box has no field to type into";
}

// Answers the installer's boxes in turn until it ends; returns the boxes it
// saw. A box beyond the script gets its first button of OK, No and Cancel,
// so the installer always ends. Ends the process when it runs past the
// limit.
std::vector<Seen> AnswerBoxes(HANDLE process, const std::vector<Answer>& script) {
  std::vector<Seen> seen;
  const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
  while (::WaitForSingleObject(process, 50) == WAIT_TIMEOUT) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the installer did not end; boxes seen: " << seen.size();
      ::TerminateProcess(process, 99);
      break;
    }
    HWND box = ::FindWindowA("#32770", kCaption);
    if (box == nullptr || !::IsWindowVisible(box)) continue;
    const Seen read = Read(box);
    if (read.text.empty()) continue;  // still being built
    seen.push_back(read);
    int button = 0;
    if (seen.size() <= script.size()) {
      const Answer& answer = script[seen.size() - 1];
      if (!answer.typed.empty()) Type(box, answer.typed);
      button = answer.button;
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
      ADD_FAILURE() << "box " << read << " has no button " << button;
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

  // Starts the installer as the "pavix" scheme's command would, for the
  // served archive or another path of the server, answers its boxes, and
  // gives its exit code.
  DWORD Run(const std::vector<Answer>& script, std::vector<Seen>& boxes,
            const std::string& path = "") {
    const std::string served = path.empty() ? served_.substr(served_.find_last_of('\\') + 1) : path;
    std::string commandLine =
        "\"" + installer_ + "\" \"pavix://127.0.0.1:" + port_ + "/" + served + "\"";
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

  std::vector<Seen> boxes;
  EXPECT_EQ(Run({{IDOK}}, boxes), kExitSuccess);
  EXPECT_EQ(boxes, (std::vector<Seen>{{kSucceeded, kInformation}}));
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
    Seen finalBox;
    std::string packageB;
  };
  const Row rows[] = {
      {"No keeps the old package and ends in the error",
       IDNO,
       kExitFailed,
       {kFailed, kStop},
       "old B"},
      {"Yes replaces it", IDYES, kExitSuccess, {kSucceeded, kInformation}, Package("B.package")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EmptyDownloads();
    WriteAll(downloads_ + "B.package", "old B");
    std::vector<Seen> boxes;
    EXPECT_EQ(Run({{row.answer}, {IDOK}}, boxes), row.exitCode);
    EXPECT_EQ(boxes, (std::vector<Seen>{{kAlreadyInstalled, kQuestion}, row.finalBox}));
    EXPECT_EQ(ReadAll(downloads_ + "A.package"), Package("A.package"));
    EXPECT_EQ(ReadAll(downloads_ + "B.package"), row.packageB);
    EXPECT_EQ(Catalog(), kCatalog) << "no read-me is merged after the question";
    EXPECT_TRUE(TempIsClean());
  }
}

// The archive's password is typed into the installer's own input box.
TEST_F(InstallerEndToEnd, PasswordTypedIntoTheInputBox) {
  qv::test::ZipWriter zip;
  zip.Add("Stairs/Locked.package", Package("Locked.package")).password = "oak&ash 42";
  zip.Add("Stairs/ReadMe.txt", kReadMe);
  zip.Save(served_);

  std::vector<Seen> boxes;
  EXPECT_EQ(Run({{IDOK, "oak&ash 42"}, {IDOK}}, boxes), kExitSuccess);
  EXPECT_EQ(boxes, (std::vector<Seen>{{kPasswordPrompt, kInputBox}, {kSucceeded, kInformation}}));
  EXPECT_EQ(ReadAll(downloads_ + "Locked.package"), Package("Locked.package"));
  EXPECT_TRUE(TempIsClean());
}

TEST_F(InstallerEndToEnd, FailedDownloadSaysSoTwiceAndTouchesNothing) {
  std::vector<Seen> boxes;
  // Nothing listens on port 1. (A missing file would not do: Wine stores a
  // server's error page and reports success, and then the extraction fails.)
  port_ = "1";
  EXPECT_EQ(Run({{IDOK}, {IDOK}}, boxes), kExitFailed);
  EXPECT_EQ(boxes, (std::vector<Seen>{{kUnableToDownload, kStop}, {kFailed, kStop}}));
  EXPECT_EQ(Catalog(), kCatalog);
  EXPECT_TRUE(TempIsClean());
}

}  // namespace
