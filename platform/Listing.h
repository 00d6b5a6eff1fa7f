// The process-wide folder listing behind ListFirst and ListNext, the same on
// every system. Each system's ListFirst reads its whole answer at once (so
// that no search stays open on the folder while the caller works through
// it) and hands the names over here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::platform::listing {

// Ends the listing in progress, whoever started it: a ListFirst that fails
// leaves nothing to continue.
void Abandon();

// Makes `names` the listing in progress and gives its first name (the empty
// text when there is none).
std::string Start(std::vector<std::string> names);

// Whether an entry with `attributes` is listed for `mask`: normal, read-only
// and archive entries always; hidden, system and folder entries only when
// the caller asked for them.
bool Shows(uint32_t attributes, uint32_t mask);

}  // namespace qv::platform::listing
