// Message boxes, the input box and pending window messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qv::platform {

// Message-box flags: buttons in the low nibble, icon in the next one.
inline constexpr int32_t kMbOk = 0;
inline constexpr int32_t kMbYesNoCancel = 3;
inline constexpr int32_t kMbYesNo = 4;
inline constexpr int32_t kMbIconStop = 16;
inline constexpr int32_t kMbIconQuestion = 32;
inline constexpr int32_t kMbIconExclamation = 48;
inline constexpr int32_t kMbIconInformation = 64;
inline constexpr int32_t kMbButtonMask = 0x0F;
inline constexpr int32_t kMbIconMask = 0xF0;

// Buttons pressed.
inline constexpr int32_t kIdOk = 1;
inline constexpr int32_t kIdCancel = 2;
inline constexpr int32_t kIdYes = 6;
inline constexpr int32_t kIdNo = 7;

// Shows a modal message box and gives the button pressed. An empty caption
// shows the application title.
int32_t ShowMessageBox(const std::string& text, int32_t flags, const std::string& caption);

// Asks for one line of text; the empty text when cancelled. An empty title
// shows the application title.
std::string InputBox(const std::string& prompt, const std::string& title,
                     const std::string& defaultText);

// Lets pending window messages be processed.
void DoEvents();

// Whatever shows the boxes. Each platform picks its own at the first box of a
// run; tests put a scripted one in its place.
class DialogFrontEnd {
 public:
  virtual ~DialogFrontEnd() = default;
  virtual int32_t MessageBox(const std::string& text, int32_t flags,
                             const std::string& caption) = 0;
  virtual std::string InputBox(const std::string& prompt, const std::string& title,
                               const std::string& defaultText) = 0;
};

// Replaces the front end for the rest of the process; nullptr goes back to
// the platform's own choice.
void SetDialogFrontEnd(std::shared_ptr<DialogFrontEnd> frontEnd);

}  // namespace qv::platform
