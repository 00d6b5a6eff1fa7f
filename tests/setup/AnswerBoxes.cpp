// answer-boxes CAPTION COUNT: a person at the screen for a script-driven
// Windows test. Waits for COUNT message boxes with that caption, from any
// program, and answers each with the first of OK, No and Cancel it offers;
// prints each box's text on a line of its own. Exits 0 after the last, 1
// when 120 s pass first.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

int main(int argc, char** argv) {
  if (argc != 3) return std::fprintf(stderr, "usage: answer-boxes CAPTION COUNT\n"), 2;
  const DWORD start = ::GetTickCount();
  for (int answered = 0; answered < std::atoi(argv[2]); ::Sleep(50)) {
    if (::GetTickCount() - start > 120000)
      return std::fprintf(stderr, "answer-boxes: %d of %s boxes seen\n", answered, argv[2]), 1;
    // The text is the one static control with text (the icon is one without).
    HWND box = ::FindWindowA("#32770", argv[1]);
    char text[1024] = {};
    for (HWND child = nullptr; box && ::IsWindowVisible(box) && !text[0];) {
      if (!(child = ::FindWindowExA(box, child, "Static", nullptr))) break;
      ::GetWindowTextA(child, text, sizeof text);
    }
    if (!text[0]) continue;  // none yet, or one still being built
    HWND control = nullptr;  // the first of OK, No and Cancel
    for (int button : {IDCANCEL, IDNO, IDOK})
      if (HWND found = ::GetDlgItem(box, button)) control = found;
    ::SendMessageA(control, BM_CLICK, 0, 0);
    std::printf("%s\n", text);
    std::fflush(stdout);
    ++answered;
    // The same box must not be answered twice.
    while (::IsWindow(box) && ::GetTickCount() - start <= 120000) ::Sleep(20);
  }
}
