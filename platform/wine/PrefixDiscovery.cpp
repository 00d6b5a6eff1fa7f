#include "platform/wine/PrefixDiscovery.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string_view>
#include <utility>

#include "common/Text.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/WineHive.h"
#include "platform/wine/WinePrefix.h"

namespace qv::platform::wine {

namespace {

using posix::IsFile;
using posix::IsFolder;
using posix::ReadSmallFile;
using posix::RealPathOr;
using posix::TrimTrailingSeparators;
using posix::UniqueFolderListing;

// Bounds on what other programs' files can make discovery do.
constexpr size_t kLargestConfigFile = size_t{1} << 20;  // a launcher's game file
// A prefix's system.reg is a few MiB even with many programs installed; a
// larger file is no hive to spend time on.
constexpr off_t kLargestHive = off_t{32} << 20;
constexpr size_t kMostEntriesPerFolder = 4096;
constexpr int kHeroicPrefixDepth = 3;  // Prefixes/<wine>/<game>/pfx at most
constexpr int kDeepestVdf = 64;

constexpr const char kGameKey[] = "Software\\EA GAMES\\The Sims 2";
constexpr const char kLegacyUserKey[] =
    "Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25";
constexpr const char kLegacyMaxisKey[] = "Software\\Maxis\\The Sims 2 Legacy";
constexpr const char kLegacySteamKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 3314070";
constexpr const char kLegacySteamApp[] = "3314070";
// The Legacy Collection has a sub-key for each of its eighteen programs; a
// key with more is looked at no further than this.
constexpr size_t kMostPackKeys = 64;

// The paths of the entries of `folder` that `wanted` keeps (given the entry
// and its path), sorted so that every run sees them in the same order; at
// most kMostEntriesPerFolder entries are looked at.
template <typename Wanted>
std::vector<std::string> ListBounded(const std::string& folder, Wanted&& wanted) {
  std::vector<std::string> found;
  const UniqueFolderListing dir(::opendir(folder.c_str()));
  if (!dir.Valid()) return found;
  size_t seen = 0;
  while (const dirent* entry = ::readdir(dir.Get())) {
    if (++seen > kMostEntriesPerFolder) break;
    if (std::string path = folder + "/" + entry->d_name; wanted(*entry, path)) {
      found.push_back(std::move(path));
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The sub-folders of `folder` (symbolic links to folders included).
std::vector<std::string> SubFolders(const std::string& folder) {
  return ListBounded(folder, [](const dirent& entry, const std::string& path) {
    const std::string_view name(entry.d_name);
    if (name == "." || name == "..") return false;
    if (entry.d_type != DT_DIR && entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) {
      return false;
    }
    return IsFolder(path);
  });
}

// The regular files of `folder` whose names end in `suffix`.
std::vector<std::string> FilesEndingIn(const std::string& folder, std::string_view suffix) {
  return ListBounded(folder, [suffix](const dirent& entry, const std::string& path) {
    const std::string_view name(entry.d_name);
    return name.size() > suffix.size() && name.ends_with(suffix) && IsFile(path);
  });
}

// A launcher's file; nothing when it is missing, no regular file or too
// large to be what it should be.
std::optional<std::string> ReadConfigFile(const std::string& path) {
  return ReadSmallFile(path, kLargestConfigFile);
}

// "~/x" and "~" below the home folder; other paths as they are.
std::string ExpandHome(std::string path, const std::string& home) {
  if (path == "~") return home;
  if (path.rfind("~/", 0) == 0) return home + path.substr(1);
  return path;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// The "prefix:" values of a Lutris game file (YAML, as Lutris writes it:
// "  prefix: /home/me/Games/the-sims-2", plain or quoted).
std::vector<std::string> LutrisPrefixes(const std::string& content, const std::string& home) {
  std::vector<std::string> prefixes;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view line = Trim(std::string_view(content).substr(start, end - start));
    start = end + 1;
    if (line.substr(0, 7) != "prefix:") continue;
    std::string_view value = Trim(line.substr(7));
    if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    if (!value.empty()) prefixes.push_back(ExpandHome(std::string(value), home));
  }
  return prefixes;
}

// A JSON string that starts after its opening quote; nothing when it does
// not close. \u escapes beyond ASCII make no path that matters here.
std::optional<std::string> JsonString(std::string_view s, size_t& pos) {
  std::string out;
  while (pos < s.size()) {
    const char c = s[pos++];
    if (c == '"') return out;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos >= s.size()) return std::nullopt;
    const char e = s[pos++];
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
          if (pos >= s.size()) return std::nullopt;
          const char h = s[pos++];
          code <<= 4;
          if (h >= '0' && h <= '9') {
            code |= static_cast<unsigned>(h - '0');
          } else if (h >= 'a' && h <= 'f') {
            code |= static_cast<unsigned>(h - 'a' + 10);
          } else if (h >= 'A' && h <= 'F') {
            code |= static_cast<unsigned>(h - 'A' + 10);
          } else {
            return std::nullopt;
          }
        }
        out += code < 0x80 ? static_cast<char>(code) : '?';
        break;
      }
      default:
        out += e;  // \" \\ \/ and the rest stand for themselves
    }
  }
  return std::nullopt;
}

// Every "winePrefix": "..." of a Heroic game configuration (one JSON object
// per game, each with its own "winePrefix").
std::vector<std::string> HeroicPrefixes(const std::string& content, const std::string& home) {
  std::vector<std::string> prefixes;
  const std::string_view text(content);
  const std::string_view key = "\"winePrefix\"";
  size_t pos = 0;
  while ((pos = text.find(key, pos)) != std::string_view::npos) {
    pos += key.size();
    while (pos < text.size() &&
           (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r')) {
      ++pos;
    }
    if (pos >= text.size() || text[pos] != ':') continue;
    ++pos;
    while (pos < text.size() &&
           (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r')) {
      ++pos;
    }
    if (pos >= text.size() || text[pos] != '"') continue;
    ++pos;
    if (std::optional<std::string> value = JsonString(text, pos); value && !value->empty()) {
      prefixes.push_back(ExpandHome(std::move(*value), home));
    }
  }
  return prefixes;
}

// The library folders of a Steam libraryfolders.vdf (Valve's KeyValues
// text): every "path" value, and in the old layout the numbered values of
// the top block ("1" "/mnt/games/SteamLibrary").
std::vector<std::string> SteamLibraries(const std::string& content) {
  std::vector<std::string> libraries;
  const std::string_view s(content);
  size_t pos = 0;
  int depth = 0;
  std::optional<std::string> key;  // a key waiting for its value
  auto token = [&]() -> std::optional<std::string> {
    std::string out;
    if (s[pos] == '"') {
      ++pos;
      while (pos < s.size() && s[pos] != '"') {
        if (s[pos] == '\\' && pos + 1 < s.size()) ++pos;
        out += s[pos++];
      }
      if (pos >= s.size()) return std::nullopt;
      ++pos;
      return out;
    }
    while (pos < s.size() && s[pos] != ' ' && s[pos] != '\t' && s[pos] != '\n' && s[pos] != '\r' &&
           s[pos] != '{' && s[pos] != '}' && s[pos] != '"') {
      out += s[pos++];
    }
    return out;
  };
  while (pos < s.size()) {
    const char c = s[pos];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++pos;
    } else if (c == '/' && pos + 1 < s.size() && s[pos + 1] == '/') {
      pos = s.find('\n', pos);
      if (pos == std::string_view::npos) break;
    } else if (c == '{') {
      ++pos;
      key.reset();
      if (++depth > kDeepestVdf) break;
    } else if (c == '}') {
      ++pos;
      key.reset();
      if (--depth < 0) break;
    } else {
      std::optional<std::string> word = token();
      if (!word) break;
      if (!key) {
        key = std::move(word);
        continue;
      }
      const bool numbered = !key->empty() && std::all_of(key->begin(), key->end(), [](char d) {
        return d >= '0' && d <= '9';
      });
      if (text::EqualsIgnoreCase(*key, "path") || (numbered && depth == 1)) {
        if (!word->empty()) libraries.push_back(std::move(*word));
      }
      key.reset();
    }
  }
  return libraries;
}

class CandidateList {
 public:
  // Adds `folder` when it is a prefix, or its pfx/ when that is.
  void Offer(PrefixKind kind, const std::string& folder) {
    const std::string clean = TrimTrailingSeparators(folder);
    if (clean.empty() || clean[0] != '/') return;  // relative paths mean nothing here
    std::string prefix;
    if (IsFile(clean + "/system.reg")) {
      prefix = clean;
    } else if (IsFile(clean + "/pfx/system.reg")) {
      prefix = clean + "/pfx";
    } else {
      return;
    }
    // The same folder reached two ways (Steam's ~/.steam/steam is a link
    // to ~/.local/share/Steam) counts once.
    if (!seen_.insert(RealPathOr(prefix)).second) return;
    list_.push_back({kind, std::move(prefix)});
  }
  // Whether `folder` is a prefix by itself (so nothing below it is looked at).
  static bool IsPrefix(const std::string& folder) {
    return IsFile(folder + "/system.reg") || IsFile(folder + "/pfx/system.reg");
  }

  std::vector<PrefixCandidate> Take() { return std::move(list_); }

 private:
  std::vector<PrefixCandidate> list_;
  std::set<std::string> seen_;
};

void OfferHeroicTree(CandidateList& list, const std::string& folder, int depth) {
  for (const std::string& sub : SubFolders(folder)) {
    if (CandidateList::IsPrefix(sub)) {
      list.Offer(PrefixKind::kHeroic, sub);
    } else if (depth > 1) {
      OfferHeroicTree(list, sub, depth - 1);
    }
  }
}

// Whether `hive` is a file of a size that a prefix's hive reaches.
bool HiveToRead(const std::string& hive) {
  struct stat info {};
  return ::stat(hive.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kLargestHive;
}

// The string value `lowerName` of the key, in the view a 32-bit program
// sees first, else in the other; "" when neither holds a string there.
std::string StringIn(const HiveLookup& lookup, const std::string& lowerName) {
  for (const HiveKey* key : {&lookup.thirtyTwoBit, &lookup.sixtyFourBit}) {
    const auto it = key->values.find(lowerName);
    if (it == key->values.end()) continue;
    const HiveValue& value = it->second;
    if (value.type != kRegSz && value.type != kRegExpandSz) continue;
    std::string text = value.data.substr(0, value.data.find('\0'));
    if (!text.empty()) return text;
  }
  return {};
}

// The first pack program's "path" below the Legacy Collection's key in a
// user hive; "" when there is none.
std::string LegacyPackPath(const std::string& hive) {
  if (!HiveToRead(hive)) return {};
  const HiveLookup legacy = ReadHiveFile(hive, kLegacyUserKey, false);
  std::vector<std::string> packs;
  for (const std::string& name : legacy.thirtyTwoBit.subKeys) {
    if (packs.size() == kMostPackKeys) break;
    packs.push_back(std::string(kLegacyUserKey) + "\\" + name);
  }
  if (packs.empty()) return {};
  for (const HiveLookup& pack : ReadHiveFileKeys(hive, packs, false)) {
    if (std::string path = StringIn(pack, "path"); !path.empty()) return path;
  }
  return {};
}

struct timespec ChangedAt(const std::string& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return {};
  return info.st_mtim;
}

bool Later(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// When the prefix's registry last changed: the game keeps its HKCU key in
// user.reg, the rest lives in system.reg.
struct timespec PrefixChangedAt(const std::string& prefix) {
  const struct timespec machine = ChangedAt(prefix + "/system.reg");
  const struct timespec user = ChangedAt(prefix + "/user.reg");
  return Later(user, machine) ? user : machine;
}

}  // namespace

GameKeys FindGameKeys(const std::string& prefix) {
  const std::string machine = prefix + "/system.reg";
  std::vector<HiveLookup> lookups;
  if (HiveToRead(machine)) {
    lookups = ReadHiveFileKeys(machine, {kGameKey, kLegacyMaxisKey, kLegacySteamKey}, true);
  } else {
    lookups.resize(3);
  }
  if (std::string folder = StringIn(lookups[0], "install dir"); !folder.empty()) {
    return {GameKey::kEaGames, std::move(folder)};
  }
  if (std::string folder = LegacyPackPath(prefix + "/user.reg"); !folder.empty()) {
    return {GameKey::kLegacyUser, std::move(folder)};
  }
  if (std::string folder = StringIn(lookups[1], "install dir"); !folder.empty()) {
    return {GameKey::kLegacyMaxis, std::move(folder)};
  }
  if (std::string folder = StringIn(lookups[2], "installlocation"); !folder.empty()) {
    return {GameKey::kLegacySteam, std::move(folder)};
  }
  return {};
}

bool IsLegacySteamPrefix(const std::string& prefix) {
  const std::string tail = std::string("/steamapps/compatdata/") + kLegacySteamApp + "/pfx";
  const std::string clean = TrimTrailingSeparators(prefix);
  return clean.size() > tail.size() &&
         clean.compare(clean.size() - tail.size(), tail.size(), tail) == 0;
}

DiscoveryHome DiscoveryHome::FromEnvironment() {
  DiscoveryHome where;
  where.home = HomeFolder();
  where.dataHome = TrimTrailingSeparators(GetEnvironment("XDG_DATA_HOME"));
  // Relative values are to be ignored, as the XDG rules say.
  if (where.dataHome.empty() || where.dataHome[0] != '/') {
    where.dataHome = where.home + "/.local/share";
  }
  where.configHome = TrimTrailingSeparators(GetEnvironment("XDG_CONFIG_HOME"));
  if (where.configHome.empty() || where.configHome[0] != '/') {
    where.configHome = where.home + "/.config";
  }
  return where;
}

const char* PrefixKindName(PrefixKind kind) {
  switch (kind) {
    case PrefixKind::kWine:
      return "Wine";
    case PrefixKind::kLutris:
      return "Lutris";
    case PrefixKind::kBottles:
      return "Bottles";
    case PrefixKind::kSteam:
      return "Steam (Proton)";
    case PrefixKind::kHeroic:
      return "Heroic";
    case PrefixKind::kPortProton:
      return "PortProton";
  }
  return "?";
}

namespace {

// Parses a launcher's game file into the prefixes it names.
using PrefixParser = std::vector<std::string> (*)(const std::string& content,
                                                  const std::string& home);

// Every prefix that a launcher's game files name: the files ending in
// `suffix` in each of `folders`, read with `parse`.
void OfferNamedPrefixes(CandidateList& list, PrefixKind kind,
                        const std::vector<std::string>& folders, std::string_view suffix,
                        PrefixParser parse, const std::string& home) {
  for (const std::string& folder : folders) {
    for (const std::string& file : FilesEndingIn(folder, suffix)) {
      if (const std::optional<std::string> content = ReadConfigFile(file)) {
        for (const std::string& prefix : parse(*content, home)) list.Offer(kind, prefix);
      }
    }
  }
}

void OfferLutris(CandidateList& list, const DiscoveryHome& where) {
  OfferNamedPrefixes(list, PrefixKind::kLutris,
                     {where.configHome + "/lutris/games", where.dataHome + "/lutris/games"}, ".yml",
                     &LutrisPrefixes, where.home);
  for (const std::string& folder : SubFolders(where.home + "/Games")) {
    list.Offer(PrefixKind::kLutris, folder);
  }
}

void OfferBottles(CandidateList& list, const DiscoveryHome& where) {
  for (const std::string& bottles :
       {where.dataHome + "/bottles/bottles",
        where.home + "/.var/app/com.usebottles.bottles/data/bottles/bottles"}) {
    for (const std::string& bottle : SubFolders(bottles)) list.Offer(PrefixKind::kBottles, bottle);
  }
}

// Every Steam installation there is (native, Flatpak, Snap), each followed
// by the libraries that its libraryfolders.vdf lists.
std::vector<std::string> SteamLibraryFolders(const DiscoveryHome& where) {
  const std::string& home = where.home;
  std::vector<std::string> folders;
  for (const std::string& steam : {home + "/.steam/steam", where.dataHome + "/Steam",
                                   home + "/.var/app/com.valvesoftware.Steam/.local/share/Steam",
                                   home + "/.var/app/com.valvesoftware.Steam/data/Steam",
                                   home + "/snap/steam/common/.local/share/Steam"}) {
    if (!IsFolder(steam)) continue;
    folders.push_back(steam);
    if (auto vdf = ReadConfigFile(steam + "/steamapps/libraryfolders.vdf")) {
      for (std::string& library : SteamLibraries(*vdf)) folders.push_back(std::move(library));
    }
  }
  return folders;
}

// The Proton prefix of every game in every library, each library once;
// the libraries go into `steamLibraries`.
void OfferSteam(CandidateList& list, const DiscoveryHome& where,
                std::vector<std::string>& steamLibraries) {
  std::set<std::string> seen;
  for (const std::string& library : SteamLibraryFolders(where)) {
    if (!seen.insert(RealPathOr(TrimTrailingSeparators(library))).second) continue;
    steamLibraries.push_back(TrimTrailingSeparators(library));
    for (const std::string& game : SubFolders(library + "/steamapps/compatdata")) {
      list.Offer(PrefixKind::kSteam, game + "/pfx");
    }
    // The Legacy Collection's own, also where the listing was cut short.
    list.Offer(PrefixKind::kSteam, library + "/steamapps/compatdata/" + kLegacySteamApp + "/pfx");
  }
}

void OfferHeroic(CandidateList& list, const DiscoveryHome& where) {
  OfferHeroicTree(list, where.home + "/Games/Heroic/Prefixes", kHeroicPrefixDepth);
  OfferNamedPrefixes(
      list, PrefixKind::kHeroic,
      {where.configHome + "/heroic/GamesConfig",
       where.home + "/.var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig"},
      ".json", &HeroicPrefixes, where.home);
}

// PortProton names its folder in PortProton.conf (one line) and otherwise
// lives in one of a few folders of the home.
void OfferPortProton(CandidateList& list, const DiscoveryHome& where) {
  const std::string& home = where.home;
  std::vector<std::string> roots;
  if (auto conf = ReadConfigFile(where.configHome + "/PortProton.conf")) {
    const std::string_view first = Trim(std::string_view(*conf).substr(0, conf->find('\n')));
    if (!first.empty()) roots.push_back(ExpandHome(std::string(first), home));
  }
  for (const std::string& root :
       {home + "/PortProton", home + "/PortWINE/PortProton", where.dataHome + "/PortProton",
        home + "/.var/app/ru.linux_gaming.PortProton"}) {
    roots.push_back(root);
  }
  for (const std::string& root : roots) {
    for (const std::string& prefix : SubFolders(TrimTrailingSeparators(root) + "/data/prefixes")) {
      list.Offer(PrefixKind::kPortProton, prefix);
    }
  }
}

// The candidates in the order of PrefixDiscovery.h, and in `steamLibraries`
// every Steam library once.
std::vector<PrefixCandidate> ListCandidates(const DiscoveryHome& where,
                                            std::vector<std::string>& steamLibraries) {
  if (where.home.empty() || where.home[0] != '/') return {};
  CandidateList list;
  list.Offer(PrefixKind::kWine, where.home + "/.wine");
  OfferLutris(list, where);
  OfferBottles(list, where);
  OfferSteam(list, where, steamLibraries);
  OfferHeroic(list, where);
  OfferPortProton(list, where);
  return list.Take();
}

}  // namespace

std::vector<PrefixCandidate> ListPrefixCandidates(const DiscoveryHome& where) {
  std::vector<std::string> steamLibraries;
  return ListCandidates(where, steamLibraries);
}

std::optional<DiscoveredPrefix> DiscoverGamePrefix(const DiscoveryHome& where) {
  std::optional<DiscoveredPrefix> best;
  struct timespec bestTime {};
  // Steam's prefix of the Legacy Collection without the game's keys: the
  // game's, but only when no prefix has keys.
  std::optional<DiscoveredPrefix> notStarted;
  struct timespec notStartedTime {};
  std::vector<std::string> steamLibraries;
  for (const PrefixCandidate& candidate : ListCandidates(where, steamLibraries)) {
    // A kind later in the order counts only when no earlier one has the game.
    if (best && best->kind != candidate.kind) break;
    GameKeys keys = FindGameKeys(candidate.folder);
    if (keys.key != GameKey::kNone) {
      const struct timespec changed = PrefixChangedAt(candidate.folder);
      if (!best || Later(changed, bestTime)) {
        best = DiscoveredPrefix{.kind = candidate.kind,
                                .folder = candidate.folder,
                                .installDir = std::move(keys.folder),
                                .key = keys.key};
        bestTime = changed;
      }
    } else if (IsLegacySteamPrefix(candidate.folder)) {
      const struct timespec changed = PrefixChangedAt(candidate.folder);
      if (!notStarted || Later(changed, notStartedTime)) {
        notStarted = DiscoveredPrefix{.kind = candidate.kind, .folder = candidate.folder};
        notStartedTime = changed;
      }
    }
  }
  if (best) return best;
  if (notStarted) return notStarted;
  // Installed but never started: Steam makes the prefix at the first start,
  // in the library that holds the game.
  for (const std::string& library : steamLibraries) {
    if (IsFile(library + "/steamapps/appmanifest_" + kLegacySteamApp + ".acf")) {
      return DiscoveredPrefix{
          .kind = PrefixKind::kSteam,
          .folder = library + "/steamapps/compatdata/" + kLegacySteamApp + "/pfx"};
    }
  }
  return std::nullopt;
}

}  // namespace qv::platform::wine
