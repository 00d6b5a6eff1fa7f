// Fuzz target: the entry-name check. Whatever name it accepts, joined to the
// extraction folder, must stay below that folder and be in the cleaned form
// the extraction code relies on.
#include "EntryName.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what, std::string_view name, const std::string& path) {
  std::fprintf(stderr, "%s: name \"%.*s\" gave \"%s\"\n", what, static_cast<int>(name.size()),
               name.data(), path.c_str());
  std::abort();
}

void Check(std::string_view name, bool honorDirectories) {
  const unzip32::CleanName clean = unzip32::CleanEntryName(name, honorDirectories);
  if (clean.kind == unzip32::NameKind::Refused) {
    if (clean.reason.empty()) Fail("refused without a reason", name, clean.path);
    return;
  }
  if (clean.kind == unzip32::NameKind::Skipped) return;
  const std::string& path = clean.path;
  if (path.empty()) Fail("empty path accepted", name, path);
  if (path.front() == '/' || path.back() == '/') Fail("separator at an end", name, path);
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view component(path.data() + start, end - start);
    if (component.empty() || component == "." || component == "..") {
      Fail("empty, . or .. component", name, path);
    }
    start = end + 1;
  }
  for (char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '\\' || c == ':') Fail("forbidden character", name, path);
  }
  if (!honorDirectories && path.find('/') != std::string::npos) {
    Fail("folder kept in a flat extraction", name, path);
  }
  const std::filesystem::path base("/extract/here");
  const std::string joined = (base / path).lexically_normal().generic_string();
  if (joined.rfind("/extract/here/", 0) != 0) Fail("escapes the folder", name, joined);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  Check(name, true);
  Check(name, false);
  return 0;
}
