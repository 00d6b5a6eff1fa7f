// Calls the zip library's C entry point with callbacks that record what the
// library said and answer from a script, and lists what it left on disk.
// Header only: the other test programs do not link the library.
#pragma once

#include "support/TempDir.h"
#include "unzip32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace qv::test {

struct ListedEntry {
  uint32_t size;
  uint32_t compressedSize;
  int32_t ratio;
  int32_t month, day, year, hour, minute;
  int32_t index;
  std::string name;
  std::string method;
  uint32_t crc;
  int32_t encrypted;
};

struct PasswordRequest {
  std::string prompt;
  std::string name;
  int32_t size;
};

inline std::string OrNull(const char* text) {
  return text != nullptr ? text : "<null>";
}

// What the callbacks saw and will answer. Callbacks carry no user pointer,
// so one recorder serves the whole process; Reset() before every run.
struct UnzipRecorder {
  std::string printed;  // every print callback text, concatenated
  int printCalls = 0;
  std::vector<std::string> replaceNames;
  std::deque<int32_t> replaceAnswers;  // empty: answer "no"
  std::vector<PasswordRequest> passwordRequests;
  std::deque<std::string> passwords;  // empty: answer 1 (skip)
  std::vector<ListedEntry> listed;
  std::vector<std::pair<std::string, int32_t>> serviced;
  int32_t cancelServiceAt = -1;  // answer non-zero to the service call with this index

  void Reset() { *this = UnzipRecorder{}; }
};

inline UnzipRecorder& Recorder() {
  static UnzipRecorder recorder;
  return recorder;
}

extern "C" {
inline int32_t UNZIP32_CALL RecordPrint(const char* text, int32_t length) {
  EXPECT_NE(text, nullptr);
  EXPECT_GE(length, 0);
  if (text != nullptr && length > 0) Recorder().printed.append(text, static_cast<size_t>(length));
  ++Recorder().printCalls;
  return 0;
}

inline int32_t UNZIP32_CALL RecordReplace(const char* name) {
  Recorder().replaceNames.push_back(OrNull(name));
  if (Recorder().replaceAnswers.empty()) return UNZIP32_REPLACE_NO;
  const int32_t answer = Recorder().replaceAnswers.front();
  Recorder().replaceAnswers.pop_front();
  return answer;
}

inline int32_t UNZIP32_CALL RecordPassword(char* buffer, int32_t size, const char* prompt,
                                           const char* name) {
  Recorder().passwordRequests.push_back({OrNull(prompt), OrNull(name), size});
  if (Recorder().passwords.empty() || buffer == nullptr || size <= 0) return 1;
  const std::string answer = Recorder().passwords.front();
  Recorder().passwords.pop_front();
  EXPECT_LT(answer.size(), static_cast<size_t>(size));
  const size_t n = std::min(answer.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buffer, answer.data(), n);
  buffer[n] = '\0';
  return 0;
}

inline void UNZIP32_CALL RecordListEntry(uint32_t size, uint32_t compressedSize, int32_t ratio,
                                         int32_t month, int32_t day, int32_t year, int32_t hour,
                                         int32_t minute, int32_t index, const char* name,
                                         const char* method, uint32_t crc, int32_t encrypted) {
  Recorder().listed.push_back({size, compressedSize, ratio, month, day, year, hour, minute, index,
                               OrNull(name), OrNull(method), crc, encrypted});
}

inline int32_t UNZIP32_CALL RecordService(const char* text, int32_t number) {
  const auto index = static_cast<int32_t>(Recorder().serviced.size());
  Recorder().serviced.emplace_back(OrNull(text), number);
  return index == Recorder().cancelServiceAt ? 1 : 0;
}
}

// Options as the installer sets them by default, with the two paths.
struct UnzipRun {
  UnzipOptions options{};
  std::string zip;
  std::string dir;
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  bool callbacks = true;  // false: every callback slot null

  UnzipRun(std::string zipPath, std::string extractDir)
      : zip(std::move(zipPath)), dir(std::move(extractDir)) {
    options.MessageLevel = 1;
    options.HonorDirectories = 1;
    options.OverWriteFiles = 1;
  }

  int32_t operator()() {
    Recorder().Reset();
    return Again();
  }

  // Runs without resetting the recorder (answers queued beforehand survive).
  int32_t Again() {
    UnzipNameList in{};
    UnzipNameList ex{};
    for (size_t i = 0; i < include.size() && i < 100; ++i) in.Names[i] = include[i].c_str();
    for (size_t i = 0; i < exclude.size() && i < 100; ++i) ex.Names[i] = exclude[i].c_str();
    options.ZipFileName = zip.c_str();
    options.ExtractDir = dir.c_str();
    UnzipUserFunctions functions{};
    if (callbacks) {
      functions.Print = RecordPrint;
      functions.Replace = RecordReplace;
      functions.Password = RecordPassword;
      functions.ListEntry = RecordListEntry;
      functions.Service = RecordService;
    }
    return Wiz_SingleEntryUnzip(static_cast<int32_t>(include.size()), &in,
                                static_cast<int32_t>(exclude.size()), &ex, &options, &functions);
  }
};

using Tree_t = std::map<std::string, std::string>;

// Compressible text of exactly `bytes` bytes.
inline std::string Text(size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += "Pack my box with five dozen liquor jugs.\n";
  s.resize(bytes);
  return s;
}

// Every file, folder and link below `root`, by path relative to it ("/"
// separated): files map to their content, folders to "<folder>", links to
// "<link>".
inline std::map<std::string, std::string> Tree(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    // Lexical: fs::relative would resolve links and hide them.
    const std::string relative = it->path().lexically_relative(root).generic_string();
    if (it->is_symlink(ec)) {
      tree[relative] = "<link>";
    } else if (it->is_directory(ec)) {
      tree[relative] = "<folder>";
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      tree[relative] =
          std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  return tree;
}

// Tree() without the folders, for tests about which entries came out.
inline Tree_t Files(const std::string& root) {
  Tree_t files;
  for (const auto& [path, content] : Tree(root)) {
    if (content != "<folder>") files[path] = content;
  }
  return files;
}

// A fresh temporary folder with the archive path a.zip and an existing,
// empty extraction folder out/.
struct Scratch {
  TempDir dir;
  std::string zip = dir.Join("a.zip");
  std::string out = dir.Join("out");
  Scratch() { dir.MakeFolder("out"); }
  UnzipRun Run() const { return UnzipRun(zip, out); }
};

}  // namespace qv::test
