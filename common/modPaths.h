// The two system lookups: where a special folder is and what a registry value
// says. Both give the empty text when the system has no answer.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// The file-system path of the special folder `lFolderId` (a CSIDL value; the
// installer asks only for 5, the documents folder), without a trailing
// separator; the empty text when the shell has none. Never throws.
std::string GetSpecialFolder(int32_t lFolderId);

// The value `sValueName` of the key `sKeyPath` below the root `lRootKey`, as
// text: strings as stored (expandable ones unexpanded), numbers in decimal
// with at least three digits. The empty text when the key or value is missing
// or the value needs more than 255 bytes. A value of zero bytes throws
// qv::Error with err::kInvalidCall.
std::string GetRegistryString(uint32_t lRootKey, const std::string& sKeyPath,
                              const std::string& sValueName);

}  // namespace qv
