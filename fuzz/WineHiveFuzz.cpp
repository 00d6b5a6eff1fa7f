// Fuzz target: the Wine hive reader, over the bytes of a system.reg or
// user.reg. Prefix discovery feeds it whatever files it finds in a home, so
// besides not crashing it must read the same from a file as from memory (the
// file is read in blocks, so lines across block ends are the risk), read
// each key the same whether it is looked up alone or with others in one
// pass (each stops reading at a point of its own), find no values or
// sub-keys in a key it did not find, and list sub-key names that a key can
// have, each once and in order.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/wine/WineHive.h"

namespace qv::platform::wine {

bool operator==(const HiveValue& a, const HiveValue& b) {
  return a.type == b.type && a.data == b.data && a.text == b.text;
}
bool operator==(const HiveKey& a, const HiveKey& b) {
  return a.found == b.found && a.values == b.values && a.subKeys == b.subKeys;
}
bool operator==(const HiveLookup& a, const HiveLookup& b) {
  return a.readable == b.readable && a.win64 == b.win64 && a.thirtyTwoBit == b.thirtyTwoBit &&
         a.sixtyFourBit == b.sixtyFourBit;
}

// What a key read from any bytes must look like.
bool Sound(const HiveKey& key) {
  if (!key.found) return key.values.empty() && key.subKeys.empty();
  for (size_t i = 0; i < key.subKeys.size(); ++i) {
    const std::string& name = key.subKeys[i];
    if (name.empty() || name.size() > 255 || name.find('\\') != std::string::npos) return false;
    // Ordered without regard to case, each once.
    if (i > 0 && !(qv::text::ToLowerAscii(key.subKeys[i - 1]) < qv::text::ToLowerAscii(name))) {
      return false;
    }
  }
  return true;
}

}  // namespace qv::platform::wine

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv::platform::wine;
  const char* folder = std::getenv("TMPDIR");
  static const std::string file = std::string(folder && *folder ? folder : "/tmp") +
                                  "/wine_hive_fuzz-" + std::to_string(::getpid()) + ".reg";
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0)
    std::abort();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> keys = {
      "Software\\EA GAMES\\The Sims 2",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
      "Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25", "Software\\Electronic Arts",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 3314070"};
  for (const bool machine : {true, false}) {
    const std::vector<HiveLookup> together = ReadHiveTextKeys(text, keys, machine);
    if (together.size() != keys.size()) std::abort();
    for (size_t i = 0; i < keys.size(); ++i) {
      const HiveLookup a = ReadHiveText(text, keys[i], machine);
      const HiveLookup b = ReadHiveFile(file, keys[i], machine);
      // The file and the same bytes in memory read the same, and so does
      // the pass that looks for all the keys at once.
      if (!a.readable || !(a == b) || !(a == together[i])) std::abort();
      if (!Sound(a.thirtyTwoBit) || !Sound(a.sixtyFourBit)) std::abort();
    }
  }
  return 0;
}
