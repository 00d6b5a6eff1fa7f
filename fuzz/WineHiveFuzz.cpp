// Fuzz target: the Wine hive reader, over the bytes of a system.reg or
// user.reg. Prefix discovery feeds it whatever files it finds in a home, so
// besides not crashing it must: read the same from a file as from memory
// (the file is read in blocks, so lines across block ends are the risk),
// never give more bytes than the hive holds, and find no values in a key it
// did not find.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/WineHive.h"

namespace {

using qv::platform::posix::HiveKey;
using qv::platform::posix::HiveLookup;

[[noreturn]] void Fail(const char* what, const std::string& key) {
  std::fprintf(stderr, "%s (key \"%s\")\n", what, key.c_str());
  std::abort();
}

void CheckKey(const HiveKey& key, std::string_view text, const std::string& path) {
  if (!key.found && !key.values.empty()) Fail("values of a key that was not found", path);
  for (const auto& [name, value] : key.values) {
    if (name.size() > text.size() || value.data.size() > text.size() + 1) {
      Fail("more bytes than the hive holds", path);
    }
  }
}

bool SameKey(const HiveKey& a, const HiveKey& b) {
  if (a.found != b.found || a.values.size() != b.values.size()) return false;
  for (auto i = a.values.begin(), j = b.values.begin(); i != a.values.end(); ++i, ++j) {
    if (i->first != j->first || i->second.type != j->second.type ||
        i->second.data != j->second.data) {
      return false;
    }
  }
  return true;
}

const std::string& ScratchFile() {
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder && *folder ? folder : "/tmp") + "/wine_hive_fuzz-" +
           std::to_string(::getpid()) + ".reg";
  }();
  return path;
}

// The first key the bytes name, so that the values of some key are parsed
// for most inputs: "[A\\B] 1" names A\B.
std::string FirstKey(std::string_view text) {
  const size_t open = text.find('[');
  if (open == std::string_view::npos) return "Software";
  const size_t close = text.find(']', open);
  std::string raw(
      text.substr(open + 1, (close == std::string_view::npos ? text.size() : close) - open - 1));
  std::string key;
  for (size_t i = 0; i < raw.size() && key.size() < 256; ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == '\\') ++i;
    key += raw[i];
  }
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::FILE* file = std::fopen(ScratchFile().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  const struct {
    std::string key;
    bool machine;
  } lookups[] = {
      {"Software\\EA GAMES\\The Sims 2", true},
      {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false},
      {FirstKey(text), true},
      {FirstKey(text), false},
  };
  for (const auto& lookup : lookups) {
    const HiveLookup fromText = qv::platform::posix::ReadHiveText(text, lookup.key, lookup.machine);
    const HiveLookup fromFile =
        qv::platform::posix::ReadHiveFile(ScratchFile(), lookup.key, lookup.machine);
    if (!fromText.readable || !fromFile.readable) Fail("hive not readable", lookup.key);
    if (fromText.win64 != fromFile.win64 ||
        !SameKey(fromText.thirtyTwoBit, fromFile.thirtyTwoBit) ||
        !SameKey(fromText.sixtyFourBit, fromFile.sixtyFourBit)) {
      Fail("the file and the same bytes in memory read differently", lookup.key);
    }
    if (!lookup.machine && fromText.sixtyFourBit.found)
      Fail("a user hive has no views", lookup.key);
    CheckKey(fromText.thirtyTwoBit, text, lookup.key);
    CheckKey(fromText.sixtyFourBit, text, lookup.key);
  }
  return 0;
}
