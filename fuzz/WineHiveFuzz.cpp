// Fuzz target: the Wine hive reader, over the bytes of a system.reg or
// user.reg. Prefix discovery feeds it whatever files it finds in a home, so
// besides not crashing it must read the same from a file as from memory (the
// file is read in blocks, so lines across block ends are the risk) and find
// no values in a key it did not find.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/WineHive.h"

namespace qv::platform::posix {

bool operator==(const HiveValue& a, const HiveValue& b) {
  return a.type == b.type && a.data == b.data;
}
bool operator==(const HiveKey& a, const HiveKey& b) {
  return a.found == b.found && a.values == b.values;
}

}  // namespace qv::platform::posix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv::platform::posix;
  const char* folder = std::getenv("TMPDIR");
  static const std::string file = std::string(folder && *folder ? folder : "/tmp") +
                                  "/wine_hive_fuzz-" + std::to_string(::getpid()) + ".reg";
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0)
    std::abort();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const char* key :
       {"Software\\EA GAMES\\The Sims 2",
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"}) {
    for (const bool machine : {true, false}) {
      const HiveLookup a = ReadHiveText(text, key, machine), b = ReadHiveFile(file, key, machine);
      // The file and the same bytes in memory read the same.
      if (!a.readable || !b.readable || a.win64 != b.win64 || !(a.thirtyTwoBit == b.thirtyTwoBit) ||
          !(a.sixtyFourBit == b.sixtyFourBit))
        std::abort();
      for (const HiveKey* found : {&a.thirtyTwoBit, &a.sixtyFourBit})
        if (!found->found && !found->values.empty()) std::abort();  // values of a missing key
    }
  }
  return 0;
}
