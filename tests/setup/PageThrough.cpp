// page-through CAPTION: a person going through a setup wizard whose window
// caption begins with CAPTION (NSIS puts a blank after its own). Presses the default button (Next,
// Install) once on each page until it reads Finish, prints the texts of that last page (its static
// controls, one after another), presses Finish and exits 0; exits 1 when 120 s pass first.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const char* caption = "";

BOOL CALLBACK FindWizard(HWND window, LPARAM found) {
  char name[32] = {};
  char text[256] = {};
  ::GetClassNameA(window, name, sizeof name);
  ::GetWindowTextA(window, text, sizeof text);
  if (std::strcmp(name, "#32770") != 0 || std::strncmp(text, caption, std::strlen(caption)) != 0)
    return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

BOOL CALLBACK PrintText(HWND control, LPARAM) {
  char name[32] = {};
  char text[2048] = {};
  ::GetClassNameA(control, name, sizeof name);
  if (::_stricmp(name, "Static") == 0 && ::GetWindowTextA(control, text, sizeof text) > 0)
    std::printf("%s\n", text);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: page-through CAPTION\n"), 2;
  caption = argv[1];
  HWND pressedOn = nullptr;  // the page whose button was pressed last
  HWND seen = nullptr;       // the page and label seen at the last look, and for how many looks
  char seenLabel[64] = {};
  int looks = 0;
  for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < 120000; ::Sleep(100)) {
    HWND wizard = nullptr;
    ::EnumWindows(FindWizard, reinterpret_cast<LPARAM>(&wizard));
    HWND button = wizard ? ::GetDlgItem(wizard, IDOK) : nullptr;
    // Each page is a dialog of its own inside the wizard: the one shown (the
    // page before it may linger, hidden, while the next is being made).
    HWND page = nullptr;
    while (wizard && (page = ::FindWindowExA(wizard, page, "#32770", nullptr)) &&
           !::IsWindowVisible(page)) {
    }
    char label[64] = {};
    if (button) ::GetWindowTextA(button, label, sizeof label);
    // The button's label changes with the page, not always at once.
    looks = page == seen && std::strcmp(label, seenLabel) == 0 ? looks + 1 : 0;
    seen = page;
    std::strcpy(seenLabel, label);
    // A page that goes on by itself (the one that installs) is gone within
    // a moment: one that stays half a second waits for the person. One that
    // stays five seconds after its button was pressed missed the press.
    if (!button || !page || !::IsWindowEnabled(button) || looks < 5) continue;
    if (page == pressedOn && looks % 50 != 0) continue;
    const bool finish = std::strstr(label, "Finish") != nullptr;
    if (finish) {
      ::EnumChildWindows(page, PrintText, 0);
      std::fflush(stdout);
    }
    // As the button tells its dialog when clicked; a click itself would need
    // the mouse, which a window in the background may not get.
    ::SendMessageA(wizard, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    pressedOn = page;
    if (finish) return 0;
  }
  std::fprintf(stderr, "page-through: no finish page of %s\n", argv[1]);
  return 1;
}
