// answer-boxes CAPTION COUNT: a person at the screen for a script-driven
// Windows test. Waits for COUNT message boxes with that caption, from any
// program, and answers each with the first of OK, No and Cancel it offers;
// prints each box's text on a line of its own. Exits 0 after the last, 1
// when 120 s pass first.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The text of a message box: its one static control with text (the icon is
// a static control without).
BOOL CALLBACK FindText(HWND child, LPARAM found) {
  char className[32] = {};
  char text[1024] = {};
  ::GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Static") == 0 && ::GetWindowTextA(child, text, sizeof text) > 0) {
    *reinterpret_cast<std::string*>(found) = text;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: answer-boxes CAPTION COUNT\n");
    return 2;
  }
  const char* caption = argv[1];
  const int count = std::atoi(argv[2]);
  const DWORD start = ::GetTickCount();
  for (int answered = 0; answered < count;) {
    if (::GetTickCount() - start > 120000) {
      std::fprintf(stderr, "answer-boxes: %d of %d boxes seen\n", answered, count);
      return 1;
    }
    HWND box = ::FindWindowA("#32770", caption);
    std::string text;
    if (box != nullptr && ::IsWindowVisible(box)) {
      ::EnumChildWindows(box, FindText, reinterpret_cast<LPARAM>(&text));
    }
    if (text.empty()) {  // none yet, or one still being built
      ::Sleep(50);
      continue;
    }
    for (int button : {IDOK, IDNO, IDCANCEL}) {
      if (HWND control = ::GetDlgItem(box, button)) {
        ::SendMessageA(control, BM_CLICK, 0, 0);
        break;
      }
    }
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    ++answered;
    // The same box must not be answered twice.
    while (::IsWindow(box) && ::GetTickCount() - start <= 120000) ::Sleep(20);
  }
  return 0;
}
