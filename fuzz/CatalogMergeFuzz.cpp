// Fuzz target: the catalog script merge. The input is a catalog script and a
// read-me, split at the first "\n--readme--\n" (no separator: all read-me,
// empty script). After the merge the script must be the old one, or the old
// items in their order followed by new lines, every line ended by CR LF and
// no stair id twice, as the merge's result says; nothing but the merge's lock
// file may be left beside it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app/Form1.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSeparator = "\n--readme--\n";

// The catalog scripts' folder of a game that a Wine prefix's registry names,
// made once per process; in memory where the system has a memory file
// system, as the merge pushes every rewrite to the disk.
const fs::path& Scripts() {
  static std::string root =
      (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
      "qv-merge-fuzz-XXXXXX";
  static const fs::path scripts = [] {
    if (::mkdtemp(root.data()) == nullptr) std::abort();
    std::ofstream(root + "/system.reg")
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
           "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n\"Install Dir\"=\""
        << root << "/game/\"\n\n";
    ::setenv("WINEPREFIX", root.c_str(), 1);
    std::atexit([] { fs::remove_all(root); });
    fs::create_directories(root + "/game/TSData/Res/Catalog/Scripts");
    return fs::path(root + "/game/TSData/Res/Catalog/Scripts");
  }();
  return scripts;
}

// Whether `after` is a sound merge of `before`. The old script's items are
// its lines as the merge reads them (ended by CR LF, LF or a lone CR, a last
// one maybe without; spaces trimmed), each ended by CR LF.
bool Sound(const std::string& before, const std::string& after) {
  if (after == before) return true;
  std::string old;
  std::set<std::string> ids;
  for (size_t start = 0, end = 0; start < before.size(); start = end + 1) {
    end = std::min(before.find_first_of("\r\n", start), before.size());
    const std::string line = before.substr(start, end - start);
    if (before.compare(end, 2, "\r\n") == 0) ++end;
    const size_t first = std::min(line.find_first_not_of(' '), line.size());
    const std::string item = line.substr(first, line.find_last_not_of(' ') + 1 - first);
    // A mark before the first line hides no id.
    std::string unmarked = start == 0 && item.starts_with("\xEF\xBB\xBF") ? item.substr(3) : item;
    unmarked.erase(0, std::min(unmarked.find_first_not_of(' '), unmarked.size()));
    if (unmarked.starts_with("modularStairs"))
      ids.insert(unmarked.substr(std::min<size_t>(14, unmarked.size())));
    old += item + "\r\n";
  }
  if (!after.starts_with(old) || after.size() == old.size() || !after.ends_with("\r\n"))
    return false;
  for (size_t start = old.size(), end = 0; start < after.size(); start = end + 2) {
    end = after.find("\r\n", start);
    const std::string line = after.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    if (line.starts_with("modularStairs") && !ids.insert(line.substr(14)).second) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path& scripts = Scripts();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find(kSeparator);
  const std::string before = split == std::string::npos ? "" : input.substr(0, split);
  const fs::path readMe = scripts.parent_path() / "ReadMe.txt";
  std::ofstream(scripts / "modularstairs.txt", std::ios::binary) << before;
  std::ofstream(readMe, std::ios::binary)
      << (split == std::string::npos ? input : input.substr(split + kSeparator.size()));

  qv::Form1 form;
  // Drawn ids from a fixed sequence, so that every input replays the same.
  uint32_t state = static_cast<uint32_t>(size) * 2654435761u + 1;
  form.Rnd = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 16777216.0f;
  };
  form.Text1.Text = "0";
  const qv::MergeResult result = form.InstallFile(readMe.string());
  std::stringstream read;
  read << std::ifstream(scripts / "modularstairs.txt", std::ios::binary).rdbuf();
  const std::string after = read.str();
  bool alone = true;
  for (const auto& entry : fs::directory_iterator(scripts)) {
    const fs::path name = entry.path().filename();
    alone = alone && (name == "modularstairs.txt" || name == "modularstairs.txt.lock");
  }
  // Nothing here can make a merge fail; one that took something over wrote
  // it and counted the read-me, one that took nothing left all as it was.
  const bool merged = result.outcome == qv::MergeResult::Outcome::kMerged;
  const char* problem =
      !alone                                    ? "a file left beside the script"
      : !Sound(before, after)                   ? "not a sound merge"
      : result.error                            ? result.error->Description().c_str()
      : merged != (after != before)             ? "the result does not tell what the merge did"
      : form.Text1.Text != (merged ? "1" : "0") ? "the counter does not follow the result"
                                                : nullptr;
  if (problem != nullptr) {
    std::fprintf(stderr, "%s\n--- before\n%s\n--- after\n%s\n", problem, before.c_str(),
                 after.c_str());
    std::abort();
  }
  return 0;
}
