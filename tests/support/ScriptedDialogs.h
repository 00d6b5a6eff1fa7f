// A dialog front end for tests: it records every box and answers from a queue
// of scripted answers, so no test waits for a person.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace qv::test {

// One box that was shown. For an input box `text` is the prompt, `caption` the
// title, `defaultText` the proposed answer and `flags` is 0.
struct Box {
  std::string text;
  int32_t flags = 0;
  std::string caption;
  bool input = false;
  std::string defaultText;
};

class ScriptedDialogs : public platform::DialogFrontEnd {
 public:
  // Queues the button for the next message box.
  void Answer(int32_t button);
  // Queues the text for the next input box.
  void AnswerInput(std::string text);

  const std::vector<Box>& Boxes() const { return boxes_; }
  // Boxes that found no scripted answer and got the safe one: No, Cancel, OK
  // or the empty text. A test that scripted every box expects 0.
  std::size_t UnansweredCount() const { return unanswered_; }
  // Scripted answers that no box has used yet.
  std::size_t PendingAnswers() const { return buttons_.size() + inputs_.size(); }

  int32_t MessageBox(const std::string& text, int32_t flags, const std::string& caption) override;
  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;

 private:
  std::deque<int32_t> buttons_;
  std::deque<std::string> inputs_;
  std::vector<Box> boxes_;
  std::size_t unanswered_ = 0;
};

// The safe answer for a message box with these flags: OK for an OK box, No for
// Yes/No, Cancel for Yes/No/Cancel.
int32_t SafeAnswer(int32_t flags);

// Puts a scripted front end in place for its lifetime; afterwards the next box
// picks the platform's own front end again.
class ScopedDialogs {
 public:
  ScopedDialogs();
  ~ScopedDialogs();
  ScopedDialogs(const ScopedDialogs&) = delete;
  ScopedDialogs& operator=(const ScopedDialogs&) = delete;

  ScriptedDialogs& operator*() const { return *dialogs_; }
  ScriptedDialogs* operator->() const { return dialogs_.get(); }
  ScriptedDialogs& Get() const { return *dialogs_; }

 private:
  std::shared_ptr<ScriptedDialogs> dialogs_;
};

}  // namespace qv::test
