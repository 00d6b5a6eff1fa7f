// The real quorvane-installer.exe (with its DLL, in a folder of its own
// whose name has blanks) started as the system starts it for a "pavix:"
// address: the archives come from the loopback server that CTest
// runs on the Linux side (QV_HTTP_STATE names its folder), the game is found
// through the registry value this test writes, the packages land in Wine's
// own documents folder, and the installer's real boxes are answered as a
// user would: each is found by its caption, its text, icon and buttons are
// read, text is typed into an input box, and a button is pressed. Last, the
// merge's lock against a POSIX process on the Linux side (QV_LOCK_PEER_STATE).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <regex>
#include <set>

#include "platform/Lock.h"
#include "platform/Process.h"
#include "support/CatalogFixtures.h"
#include "support/InstallerOutcomes.h"
#include "support/TempDir.h"

namespace qv::test::e2e {
namespace {

namespace fs = std::filesystem;

// Which of the system's message-box icons the icon control shows: the one
// that, drawn over the control's background (as its corner shows it: the
// icons leave their corners transparent), gives exactly the pixels on the
// screen; 0 while none does (the box is not painted yet). Another process's
// icon handle means nothing here, and under Wine its window cannot be read
// through its own device context: the screen is. IDI_HAND, IDI_QUESTION,
// IDI_EXCLAMATION and IDI_ASTERISK are 32513 to 32516, their flags 16 to 64.
int IconFlag(HWND icon) {
  RECT area{};
  POINT at{0, 0};
  if (!::GetClientRect(icon, &area) || area.right <= 0 || !::ClientToScreen(icon, &at)) return 0;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HGDIOBJ old = ::SelectObject(memory, ::CreateCompatibleBitmap(screen, area.right, area.bottom));
  ::SetDCBrushColor(memory, ::GetPixel(screen, at.x, at.y));
  int flag = 0;
  for (int i = 0; i < 4 && flag == 0; ++i) {
    ::FillRect(memory, &area, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
    ::DrawIconEx(memory, 0, 0, ::LoadIconA(nullptr, MAKEINTRESOURCEA(32513 + i)), area.right,
                 area.bottom, 0, nullptr, DI_NORMAL);
    bool same = true;
    for (int x = 0, y = 0; same && y < area.bottom; y += ++x / area.right, x %= area.right)
      same = ::GetPixel(memory, x, y) == ::GetPixel(screen, at.x + x, at.y + y);
    if (same) flag = 16 * (i + 1);
  }
  ::DeleteObject(::SelectObject(memory, old));
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return flag;
}

// A box as the user meets it: the text of its one static control with
// text, its buttons and, for a message box, its icon; empty text while it is
// still being built.
Box Read(HWND box) {
  Box seen{"", ::FindWindowExA(box, nullptr, "Edit", nullptr) ? kInputBox : 0};
  HWND icon = nullptr;
  for (HWND child = nullptr; (child = ::FindWindowExA(box, child, "Static", nullptr));) {
    char text[1024] = {};
    if ((::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      icon = child;
    else if (seen.text.empty() && ::GetWindowTextA(child, text, sizeof text) > 0)
      seen.text = text;
  }
  if (seen.flags == kInputBox) return seen;
  if (::GetDlgItem(box, IDYES) && ::GetDlgItem(box, IDNO)) seen.flags = MB_YESNO;
  // The icon is drawn once the box is shown; on a busy machine that can take
  // a few seconds.
  for (int attempt = 0; icon != nullptr && attempt < 100; ++attempt, ::Sleep(50)) {
    ::RedrawWindow(icon, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    if (const int flag = IconFlag(icon)) return {seen.text, seen.flags | flag};
  }
  return seen;
}

// Runs reg.exe, the registry tool that Wine brings ("wine reg"), with a
// command line in UTF-16 so that names beyond the code page arrive whole;
// gives its exit code.
DWORD Reg(const std::string& arguments) {
  std::wstring line = L"reg.exe " + PathOf(arguments).wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
    ADD_FAILURE() << "reg " << arguments << ": error " << ::GetLastError();
    return 1;
  }
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  return code;
}

// A value that reg.exe stores as given: a backslash before the closing quote
// would escape it, so a trailing one is doubled.
std::string Quoted(const std::string& value) {
  return "\"" + value + (value.ends_with("\\") ? "\\" : "") + "\"";
}

constexpr const char* kGameKeys[] = {
    "HKLM\\SOFTWARE\\EA GAMES\\The Sims 2",
    "HKCU\\Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25",
    "HKLM\\SOFTWARE\\Maxis\\The Sims 2 Legacy",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 3314070"};

class WineMachine : public Machine {
 public:
  WineMachine() {
    temp = dir_.Path() + "\\tmp";
    fs::create_directories(temp);
    fs::create_directories(programs_);
    for (const char* file :
         {"\\quorvane-installer.exe", "\\quorvane-installer-testing.exe", "\\unzip32.dll"})
      fs::copy_file(platform::ExecutableFolder() + file, programs_ + file);
    shown = 0xFF;
    elevates = true;
    // Wine starts the desktop's own process for the first program that
    // needs the desktop: here, not inside a run's job, where it would count.
    ::GetDesktopWindow();
    leftover = ".qv-0000beef-0001.tmp";
    lookAlike = ".qv-notes.tmp";
  }
  ~WineMachine() override {
    for (const char* key : kGameKeys) Reg(std::string("delete \"") + key + "\" /f");
    std::error_code ec;
    fs::remove_all(programFiles_, ec);
  }

  // The game in this test's folder, its keys written with reg.exe as the
  // edition writes them (in the view of this program's own bitness, which
  // is the installer's too).
  void Record(const Edition& edition) override {
    for (const char* key : kGameKeys) Reg(std::string("delete \"") + key + "\" /f");
    const std::string root = (edition.programFiles ? programFiles_ : dir_.Path()) + "\\The Sims 2";
    const std::string game = root + (edition.base.empty() ? "" : "\\" + edition.base);
    const std::string end = edition.trailingSeparator ? "\\" : "";
    script = game + "\\TSData\\Res\\Catalog\\Scripts\\modularstairs.txt";
    WriteAll(script, kCatalog);
    wchar_t documents[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents);
    const std::u8string eaGames = (fs::path(documents) / "EA Games").u8string();
    fs::remove_all(fs::path(eaGames));
    downloads =
        std::string(eaGames.begin(), eaGames.end()) + "\\" + edition.userFolder + "\\Downloads";
    fs::create_directories(PathOf(downloads));

    auto add = [](const std::string& key, const std::string& name, const std::string& value) {
      EXPECT_EQ(
          Reg("add \"" + key + "\" /v \"" + name + "\" /t REG_SZ /d " + Quoted(value) + " /f"), 0u)
          << key << " " << name;
    };
    auto named = [&](const std::string& key) {
      if (!edition.displayName.empty()) add(key, "DisplayName", edition.displayName);
    };
    switch (edition.keys) {
      case Keys::kDisc:
        named(kGameKeys[0]);
        add(kGameKeys[0], "Install Dir", game + end);
        break;
      case Keys::kLegacyPacks:
        named(kGameKeys[1]);
        for (const char* pack : {"EP9", "EP1"})
          add(std::string(kGameKeys[1]) + "\\Sims2" + pack + ".exe", "path", root + "\\" + pack);
        break;
      case Keys::kLegacyMaxis:
        add(kGameKeys[2], "Install Dir", root + end);
        break;
      case Keys::kLegacySteam:
        add(kGameKeys[3], "InstallLocation", root + end);
        break;
      case Keys::kNone:
        break;
    }
  }

  std::string Serve(const std::string& name, const std::string& archive, bool slow) override {
    WriteAll(state_ + "\\root\\e2e-" + name, archive);
    return "127.0.0.1:" + ReadAll(state_ + "\\port") + (slow ? "/slow/e2e-" : "/e2e-") + name;
  }

  std::vector<Ended> Start(const std::vector<Launch>& launches) override {
    std::vector<PROCESS_INFORMATION> runs(launches.size());
    std::vector<Ended> ended(launches.size());
    // Each run in a job of its own, which counts every process started in
    // it: under Wine the copy that "runas" starts is one of them.
    std::vector<HANDLE> jobs(launches.size());
    const std::string ownTemp = fs::temp_directory_path().string();
    for (size_t i = 0; i < launches.size(); ++i) {
      // Blanks in the program's name and more than one after it.
      const bool faulty = !launches[i].faults.empty();
      std::string line =
          "\"" + programs_ +
          (faulty ? "\\quorvane-installer-testing.exe" : "\\quorvane-installer.exe") + "\" \t " +
          launches[i].arguments;
      for (const char* name : {"TMP", "TEMP"}) ::SetEnvironmentVariableA(name, temp.c_str());
      if (faulty) ::SetEnvironmentVariableA("QV_TEST_FAULTS", launches[i].faults.c_str());
      STARTUPINFOA startup{};
      startup.cb = sizeof startup;
      EXPECT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                   nullptr, nullptr, &startup, &runs[i]))
          << line << ": error " << ::GetLastError();
      jobs[i] = ::CreateJobObjectA(nullptr, nullptr);
      EXPECT_TRUE(::AssignProcessToJobObject(jobs[i], runs[i].hProcess)) << ::GetLastError();
      ::ResumeThread(runs[i].hThread);
      for (const char* name : {"TMP", "TEMP"}) ::SetEnvironmentVariableA(name, ownTemp.c_str());
      ::SetEnvironmentVariableA("QV_TEST_FAULTS", nullptr);
    }
    std::set<HWND> answered;  // a box stays answered until it is gone
    const auto started = std::chrono::steady_clock::now();
    for (bool running = true; running; ::Sleep(50)) {
      running = false;
      const auto since = std::chrono::steady_clock::now() - started;
      for (size_t i = 0; i < runs.size(); ++i) {
        if (::WaitForSingleObject(runs[i].hProcess, 0) != WAIT_TIMEOUT) continue;
        running = true;
        const auto killAfter = launches[i].killAfter;
        // Wine's first start of a GUI program in a fresh prefix can take a while, and
        // runs that share a temporary folder wait for each other.
        if ((killAfter.count() > 0 && since > killAfter) || since > std::chrono::minutes(5)) {
          EXPECT_GT(killAfter.count(), 0) << "run " << i << " did not end";
          ::TerminateProcess(runs[i].hProcess, 137);
        }
      }
      std::erase_if(answered, [](HWND box) { return !::IsWindow(box); });
      for (HWND box = nullptr; (box = ::FindWindowExA(nullptr, box, "#32770", kCaption));) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(box, &process);
        size_t i = 0;
        while (i < runs.size() && runs[i].dwProcessId != process) ++i;
        const Box seen =
            i < runs.size() && ::IsWindowVisible(box) && !answered.count(box) ? Read(box) : Box{""};
        if (seen.text.empty()) continue;
        // As the script says, typing into an input box first; beyond it,
        // with OK, or No when it asks.
        const std::vector<Box>& answers = launches[i].script;
        const size_t n = ended[i].boxes.size();
        ended[i].boxes.push_back(seen);
        for (const char c : n < answers.size() ? answers[n].typed : "")
          ::SendMessageA(::FindWindowExA(box, nullptr, "Edit", nullptr), WM_CHAR, c & 0xFF, 1);
        const bool asks = seen.flags != kInputBox && (seen.flags & MB_YESNO);
        const int button = n < answers.size() ? answers[n].answer : asks ? IDNO : IDOK;
        ::PostMessageA(::GetDlgItem(box, button), BM_CLICK, 0, 0);
        answered.insert(box);
      }
    }
    for (size_t i = 0; i < runs.size(); ++i) {
      DWORD code = 99;
      ::GetExitCodeProcess(runs[i].hProcess, &code);
      ended[i].exitCode = static_cast<int>(code);
      JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job{};
      EXPECT_TRUE(::QueryInformationJobObject(jobs[i], JobObjectBasicAccountingInformation, &job,
                                              sizeof job, nullptr));
      ended[i].elevations = static_cast<int>(job.TotalProcesses) - 1;
      ::CloseHandle(jobs[i]);
      ::CloseHandle(runs[i].hProcess);
      ::CloseHandle(runs[i].hThread);
    }
    return ended;
  }

 private:
  TempDir dir_;
  std::string state_ = platform::GetEnvironment("QV_HTTP_STATE");
  std::string programs_ = dir_.Path() + "\\Program Files";
  // A game below the system's Program Files folder, in a folder of this
  // test's own.
  std::string programFiles_ = platform::GetEnvironment("ProgramFiles") + "\\EA GAMES\\" +
                              fs::path(dir_.Path()).filename().string();
};

QV_INSTALLER_OUTCOME_TESTS(WineMachine);

// The program asks Windows for no rights of its own (asInvoker): where
// nothing needs them no one is asked, and where the catalog does, the run
// asks for that step alone.
TEST(Manifest, AsksForNoRights) {
  HMODULE program = ::LoadLibraryExA(QV_INSTALLER_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr) << QV_INSTALLER_PATH;
  HRSRC found = ::FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr) << "no manifest";
  const std::string manifest(
      static_cast<const char*>(::LockResource(::LoadResource(program, found))),
      ::SizeofResource(program, found));
  ::FreeLibrary(program);
  const std::regex kLevel("<requestedExecutionLevel[^>]*>");
  std::vector<std::string> levels;
  for (std::sregex_iterator at(manifest.begin(), manifest.end(), kLevel), end; at != end; ++at)
    levels.push_back(at->str());
  ASSERT_EQ(levels.size(), 1u) << manifest;
  EXPECT_NE(levels[0].find("level=\"asInvoker\""), std::string::npos) << levels[0];
}

// The POSIX peer holds the byte that both builds lock, as the Linux
// program's merge does, and lets go a second after this test says it waits.
TEST(MergeLock, ExcludesAPosixProcessOnTheSameFile) {
  const std::string state = platform::GetEnvironment("QV_LOCK_PEER_STATE") + "\\";
  auto waitFor = [&](const char* name) {  // the file's content, once there
    for (int i = 0; i < 1500 && !fs::exists(state + name); ++i) ::Sleep(20);
    return ReadAll(state + name);
  };
  ASSERT_EQ(waitFor("held"), "held") << "QV_LOCK_PEER_STATE: run through CTest";
  WriteAll(state + "windows-waits", "");
  {
    const auto lock = platform::ExclusiveLock::TakeFileLock(state + "modularstairs.txt");
    EXPECT_TRUE(fs::exists(state + "released")) << "got the lock while the POSIX process held it";
    WriteAll(state + "windows-holds", "");
    EXPECT_EQ(waitFor("posix-try"), "refused");
  }
  WriteAll(state + "windows-released", "");
  EXPECT_EQ(waitFor("posix-after"), "granted");
}

}  // namespace
}  // namespace qv::test::e2e
