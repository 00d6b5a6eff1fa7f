#include "tests/support/ScriptedDialogs.h"

#include <utility>

namespace qv::test {

int32_t SafeAnswer(int32_t flags) {
  switch (flags & platform::kMbButtonMask) {
    case platform::kMbYesNo:
      return platform::kIdNo;
    case platform::kMbYesNoCancel:
      return platform::kIdCancel;
    default:
      return platform::kIdOk;
  }
}

void ScriptedDialogs::Answer(int32_t button) {
  buttons_.push_back(button);
}

void ScriptedDialogs::AnswerInput(std::string text) {
  inputs_.push_back(std::move(text));
}

int32_t ScriptedDialogs::MessageBox(const std::string& text, int32_t flags,
                                    const std::string& caption) {
  boxes_.push_back(Box{text, flags, caption, false, {}});
  if (buttons_.empty()) {
    ++unanswered_;
    return SafeAnswer(flags);
  }
  const int32_t button = buttons_.front();
  buttons_.pop_front();
  return button;
}

std::string ScriptedDialogs::InputBox(const std::string& prompt, const std::string& title,
                                      const std::string& defaultText) {
  boxes_.push_back(Box{prompt, 0, title, true, defaultText});
  if (inputs_.empty()) {
    ++unanswered_;
    return {};
  }
  std::string text = std::move(inputs_.front());
  inputs_.pop_front();
  return text;
}

ScopedDialogs::ScopedDialogs() : dialogs_(std::make_shared<ScriptedDialogs>()) {
  platform::SetDialogFrontEnd(dialogs_);
}

ScopedDialogs::~ScopedDialogs() {
  platform::SetDialogFrontEnd(nullptr);
}

}  // namespace qv::test
