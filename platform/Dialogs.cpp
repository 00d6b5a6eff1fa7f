#include "platform/Dialogs.h"

#include <utility>

#include "common/AppInfo.h"
#include "platform/DialogsInternal.h"

namespace qv::platform {

namespace {

std::shared_ptr<DialogFrontEnd>& CurrentFrontEnd() {
  static std::shared_ptr<DialogFrontEnd> frontEnd;
  return frontEnd;
}

DialogFrontEnd& FrontEnd() {
  auto& frontEnd = CurrentFrontEnd();
  if (!frontEnd) frontEnd = CreateDefaultFrontEnd();
  return *frontEnd;
}

}  // namespace

int32_t ShowMessageBox(const std::string& text, int32_t flags, const std::string& caption) {
  return FrontEnd().MessageBox(text, flags, caption.empty() ? kApplicationTitle : caption);
}

std::string InputBox(const std::string& prompt, const std::string& title,
                     const std::string& defaultText) {
  return FrontEnd().InputBox(prompt, title.empty() ? kApplicationTitle : title, defaultText);
}

void DoEvents() {
  ProcessPendingMessages();
}

void SetDialogFrontEnd(std::shared_ptr<DialogFrontEnd> frontEnd) {
  CurrentFrontEnd() = std::move(frontEnd);
}

}  // namespace qv::platform
