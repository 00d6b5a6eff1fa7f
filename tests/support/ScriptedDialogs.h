// A dialog front end for tests: it records every box and answers it, so no
// test waits for a person: a message box with No (the safe answer to every
// question; a box that only informs takes any answer), an input box from a
// queue of scripted texts (the empty text past its end).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Dialogs.h"

namespace qv::test {

class ScriptedDialogs : public platform::DialogFrontEnd {
 public:
  // Queues the text for the next input box.
  void AnswerInput(std::string text) { inputs_.push_back(std::move(text)); }
  // The text (an input box's prompt) of every box shown, in order.
  const std::vector<std::string>& Boxes() const { return boxes_; }

  int32_t MessageBox(const std::string& text, int32_t, const std::string&) override {
    boxes_.push_back(text);
    return platform::kIdNo;
  }
  std::string InputBox(const std::string& prompt, const std::string&, const std::string&) override {
    boxes_.push_back(prompt);
    if (inputs_.empty()) return {};
    std::string answer = std::move(inputs_.front());
    inputs_.pop_front();
    return answer;
  }

 private:
  std::deque<std::string> inputs_;
  std::vector<std::string> boxes_;
};

// Puts a scripted front end in place for its lifetime; afterwards the next box
// picks the platform's own front end again.
struct ScopedDialogs {
  ScopedDialogs() { platform::SetDialogFrontEnd(dialogs_); }
  ~ScopedDialogs() { platform::SetDialogFrontEnd(nullptr); }
  ScriptedDialogs* operator->() const { return dialogs_.get(); }
  std::shared_ptr<ScriptedDialogs> dialogs_ = std::make_shared<ScriptedDialogs>();
};

}  // namespace qv::test
