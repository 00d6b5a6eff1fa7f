// Fuzz target: the catalog script merge. The input is a catalog script and a
// read-me, split at the first "\n--readme--\n" (no separator: all read-me,
// empty script). After the merge the script must be the old one, or the old
// items in their order followed by taken-over lines, every line ended by
// CR LF, and no stair id among the taken-over lines twice or already used by
// the old script; no temporary file may be left beside it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/Form1.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSeparator = "\n--readme--\n";

struct Sandbox {
  fs::path root;
  fs::path script;
  fs::path readMe;
};

// A Wine prefix whose registry names the game folder, made once per process;
// in memory where the system has a memory file system, as the merge pushes
// every rewrite to the disk.
const Sandbox& TheSandbox() {
  static const Sandbox sandbox = [] {
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    Sandbox s;
    std::string pattern = (base / "qv-merge-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    s.root = pattern;
    const fs::path prefix = s.root / "prefix";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
    const fs::path scripts = prefix / "drive_c/game/TSData/Res/Catalog/Scripts";
    fs::create_directories(scripts);
    std::ofstream(prefix / "system.reg", std::ios::binary)
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
           "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
           "\"Install Dir\"=\"C:\\\\game\\\\\"\n\n";
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    s.script = scripts / "modularstairs.txt";
    s.readMe = s.root / "ReadMe.txt";
    std::atexit([] { fs::remove_all(TheSandbox().root); });
    return s;
  }();
  return sandbox;
}

void Write(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

[[noreturn]] void Fail(const char* what, const std::string& before, const std::string& after) {
  std::fprintf(stderr, "%s\n--- before (%zu bytes)\n%s\n--- after (%zu bytes)\n%s\n", what,
               before.size(), before.c_str(), after.size(), after.c_str());
  std::abort();
}

// The script's items as the merge reads them: lines ended by CR LF, LF or a
// lone CR, without leading and trailing spaces.
std::vector<std::string> Items(const std::string& text) {
  std::vector<std::string> items;
  std::string line;
  auto finish = [&] {
    const size_t first = line.find_first_not_of(' ');
    items.push_back(first == std::string::npos
                        ? std::string()
                        : line.substr(first, line.find_last_not_of(' ') - first + 1));
    line.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      finish();
    } else {
      line.push_back(text[i]);
    }
  }
  if (!line.empty()) finish();
  return items;
}

std::string IdOf(const std::string& item) {
  return item.size() <= 13 ? std::string() : item.substr(14);
}

bool StairLine(const std::string& item) {
  return item.compare(0, 13, "modularStairs") == 0 && item.size() >= 13;
}

void Check(const std::string& before, const std::string& after) {
  if (after == before) return;
  if (after.size() < 2 || after.compare(after.size() - 2, 2, "\r\n") != 0) {
    Fail("rewritten script does not end with CR LF", before, after);
  }
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < after.size()) {
    const size_t end = after.find("\r\n", start);
    lines.push_back(after.substr(start, end - start));
    start = end + 2;
  }
  for (const std::string& line : lines) {
    if (line.find_first_of("\r\n") != std::string::npos) {
      Fail("a line end other than CR LF", before, after);
    }
  }
  const std::vector<std::string> old = Items(before);
  if (lines.size() <= old.size()) Fail("rewritten without a line added", before, after);
  std::set<std::string> used;
  for (size_t i = 0; i < old.size(); ++i) {
    if (lines[i] != old[i]) Fail("an old line changed or moved", before, after);
    if (StairLine(old[i])) used.insert(IdOf(old[i]));
  }
  for (size_t i = old.size(); i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.compare(0, 14, "modularStairs ") == 0) {
      if (!used.insert(line.substr(14)).second) Fail("a stair id twice", before, after);
    } else if (!line.empty() && line[0] != '#' && line.compare(0, 8, "objectID") != 0 &&
               line.compare(0, 16, "catalogTextIndex") != 0) {
      Fail("a taken-over line of no known kind", before, after);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Sandbox& sandbox = TheSandbox();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find(kSeparator);
  const std::string before(split == std::string_view::npos ? std::string_view()
                                                           : input.substr(0, split));
  const std::string_view readMe =
      split == std::string_view::npos ? input : input.substr(split + kSeparator.size());
  Write(sandbox.script, before);
  Write(sandbox.readMe, readMe);

  qv::Form1 form;
  // Drawn ids from a fixed sequence, so that every input replays the same.
  uint32_t state = static_cast<uint32_t>(size) * 2654435761u + 1;
  form.Rnd = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 16777216.0f;
  };
  form.Text1.Text = "0";
  form.InstallFile(sandbox.readMe.string());
  Check(before, Read(sandbox.script));

  // Beside the script only the merge's lock file, which stays.
  for (const auto& entry : fs::directory_iterator(sandbox.script.parent_path())) {
    const fs::path name = entry.path().filename();
    if (name != "modularstairs.txt" && name != "modularstairs.txt.lock") {
      Fail("a file left beside the script", before, Read(sandbox.script));
    }
  }
  return 0;
}
