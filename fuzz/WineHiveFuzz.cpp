// Fuzz target: the Wine hive reader, over the bytes of a system.reg or
// user.reg. Prefix discovery feeds it whatever files it finds in a home, so
// besides not crashing it must: read the same from a file as from memory
// (the file is read in blocks, so lines across block ends are the risk),
// never give more bytes than the hive holds, and find no values in a key it
// did not find.
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

namespace {

void Check(bool ok, const char* what, const std::string& key) {
  if (ok) return;
  std::fprintf(stderr, "%s (key \"%s\")\n", what, key.c_str());
  std::abort();
}

// The first key the bytes name, so that the values of some key are parsed
// for most inputs: "[A\\B] 1" names A\B.
std::string FirstKey(std::string_view text) {
  const size_t open = text.find('[');
  if (open == std::string_view::npos) return "Software";
  std::string key;
  for (size_t i = open + 1; i < text.size() && text[i] != ']' && key.size() < 256; ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') ++i;
    key += text[i];
  }
  return key;
}

}  // namespace
}  // namespace qv::platform::posix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv::platform::posix;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const char* folder = std::getenv("TMPDIR");
  static const std::string file = std::string(folder && *folder ? folder : "/tmp") +
                                  "/wine_hive_fuzz-" + std::to_string(::getpid()) + ".reg";
  std::FILE* out = std::fopen(file.c_str(), "wb");
  Check(out != nullptr && std::fwrite(data, 1, size, out) == size && std::fclose(out) == 0,
        "cannot write the scratch file", file);
  for (const std::string& key :
       {std::string("Software\\EA GAMES\\The Sims 2"),
        std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"),
        FirstKey(text)}) {
    for (const bool machine : {true, false}) {
      const HiveLookup fromText = ReadHiveText(text, key, machine);
      const HiveLookup fromFile = ReadHiveFile(file, key, machine);
      Check(fromText.readable && fromFile.readable, "hive not readable", key);
      Check(fromText.win64 == fromFile.win64 && fromText.thirtyTwoBit == fromFile.thirtyTwoBit &&
                fromText.sixtyFourBit == fromFile.sixtyFourBit,
            "the file and the same bytes in memory read differently", key);
      Check(machine || !fromText.sixtyFourBit.found, "a user hive has no views", key);
      for (const HiveKey* found : {&fromText.thirtyTwoBit, &fromText.sixtyFourBit}) {
        Check(found->found || found->values.empty(), "values of a key that was not found", key);
        for (const auto& [name, value] : found->values) {
          Check(name.size() <= size && value.data.size() <= size + 1,
                "more bytes than the hive holds", key);
        }
      }
    }
  }
  return 0;
}
