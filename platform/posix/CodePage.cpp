// The ANSI code page on POSIX. The installer's ANSI text is the game's, and
// the game runs under Wine, which gives Windows programs code page 1252 on
// Western systems: the conversion is the Wine emulation's own.
#include "platform/CodePage.h"

#include "platform/wine/CodePage.h"

namespace qv::platform {

std::string WideToAnsi(std::u16string_view text) {
  return wine::Utf16ToAnsi(text);
}

}  // namespace qv::platform
