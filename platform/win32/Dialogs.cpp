// The Windows front end: MessageBoxA, and the input box as a modal dialog
// from the template in InputBox.rc.
#include <string>

#include "platform/Dialogs.h"
#include "platform/DialogsInternal.h"
#include "platform/win32/InputBoxResource.h"
#include "platform/win32/Win32Support.h"

// windows.h turns MessageBox into MessageBoxA, which would rename the front
// end's method below.
#undef MessageBox

namespace qv::platform {

namespace {

struct InputBoxState {
  const std::string* prompt;
  const std::string* title;
  const std::string* defaultText;
  std::string answer;
};

// Puts the dialog in the middle of the work area of the screen it is on.
void Centre(HWND dialog) {
  RECT window{};
  if (!::GetWindowRect(dialog, &window)) return;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  RECT area{};
  if (::GetMonitorInfoA(::MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    area = monitor.rcWork;
  } else {
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  const LONG width = window.right - window.left;
  const LONG height = window.bottom - window.top;
  const LONG x = area.left + (area.right - area.left - width) / 2;
  const LONG y = area.top + (area.bottom - area.top - height) / 2;
  ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK InputBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<InputBoxState*>(lParam);
      ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      ::SetWindowTextA(dialog, state->title->c_str());
      ::SetDlgItemTextA(dialog, QV_IDC_INPUTBOX_PROMPT, state->prompt->c_str());
      ::SetDlgItemTextA(dialog, QV_IDC_INPUTBOX_EDIT, state->defaultText->c_str());
      HWND edit = ::GetDlgItem(dialog, QV_IDC_INPUTBOX_EDIT);
      ::SendMessageA(edit, EM_SETSEL, 0, -1);
      Centre(dialog);
      ::SetForegroundWindow(dialog);
      ::SetFocus(edit);
      return FALSE;  // the focus has been set here
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          auto* state = reinterpret_cast<InputBoxState*>(::GetWindowLongPtrA(dialog, DWLP_USER));
          HWND edit = ::GetDlgItem(dialog, QV_IDC_INPUTBOX_EDIT);
          const int length = ::GetWindowTextLengthA(edit);
          std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
          const int got = ::GetWindowTextA(edit, text.data(), static_cast<int>(text.size()));
          text.resize(static_cast<size_t>(got > 0 ? got : 0));
          state->answer = std::move(text);
          ::EndDialog(dialog, IDOK);
          return TRUE;
        }
        case IDCANCEL:
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

class Win32FrontEnd : public DialogFrontEnd {
 public:
  int32_t MessageBox(const std::string& text, int32_t flags, const std::string& caption) override {
    return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), static_cast<UINT>(flags));
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override {
    InputBoxState state{&prompt, &title, &defaultText, {}};
    // The template is linked into the executable itself.
    const INT_PTR result =
        ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(QV_IDD_INPUTBOX), nullptr,
                          InputBoxProc, reinterpret_cast<LPARAM>(&state));
    // Cancel, closing the box and a failure to show it all give the empty text.
    return result == IDOK ? state.answer : std::string();
  }
};

}  // namespace

std::shared_ptr<DialogFrontEnd> CreateDefaultFrontEnd() {
  return std::make_shared<Win32FrontEnd>();
}

void ProcessPendingMessages() {
  MSG message{};
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Leave the quit request for whoever runs the message loop.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

}  // namespace qv::platform
