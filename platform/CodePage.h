// Text between UTF-16 and the system's ANSI code page. The installer keeps
// all text in the ANSI code page, as the game and its files do; UTF-16
// arrives from read-mes that Windows editors save as "Unicode" and from the
// registry's own strings.
#pragma once

#include <string>
#include <string_view>

namespace qv::platform {

// `text` (UTF-16, in the byte order of this machine's char16_t) in the ANSI
// code page; a character the code page has none for becomes '?', as the
// system's own conversion gives it.
std::string WideToAnsi(std::u16string_view text);

}  // namespace qv::platform
