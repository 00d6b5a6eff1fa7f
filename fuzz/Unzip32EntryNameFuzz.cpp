// Fuzz target: the entry-name check. Whatever name it accepts, joined to the
// extraction folder, must stay below that folder and be in the cleaned form
// the extraction code relies on.
#include "EntryName.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

void Check(std::string_view name, bool honorDirectories) {
  const unzip32::CleanName clean = unzip32::CleanEntryName(name, honorDirectories);
  const std::string& path = clean.path;
  const char* fault = nullptr;
  if (clean.kind == unzip32::NameKind::Refused) {
    if (clean.reason.empty()) fault = "refused without a reason";
  } else if (clean.kind != unzip32::NameKind::Skipped) {
    const std::string framed = "/" + path + "/";
    const std::string joined =
        (std::filesystem::path("/extract/here") / path).lexically_normal().generic_string();
    for (const char* part : {"//", "/./", "/../"}) {
      if (framed.find(part) != std::string::npos) fault = "empty, . or .. component, or path empty";
    }
    for (char c : path) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\' || c == ':')
        fault = "forbidden character";
    }
    if (!honorDirectories && path.find('/') != std::string::npos) fault = "folder kept when flat";
    if (!joined.starts_with("/extract/here/")) fault = "escapes the folder";
  }
  if (fault == nullptr) return;
  std::fprintf(stderr, "%s: name \"%.*s\" gave \"%s\"\n", fault, static_cast<int>(name.size()),
               name.data(), path.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  Check(name, true);
  Check(name, false);
  return 0;
}
