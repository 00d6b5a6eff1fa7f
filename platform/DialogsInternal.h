// Between the portable dialog dispatcher and each system's front ends.
#pragma once

#include <memory>

#include "platform/Dialogs.h"

namespace qv::platform {

// The system's own front end, chosen at the first box of a run.
std::shared_ptr<DialogFrontEnd> CreateDefaultFrontEnd();

// The system's processing of pending window messages.
void ProcessPendingMessages();

}  // namespace qv::platform
