// Calls the zip library's C entry point with callbacks that record what the
// library asked and answer from a script, and lists what it left on disk.
// Header only: the other test programs do not link the library.
#pragma once

#include "support/StackCheck.h"
#include "unzip32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace qv::test {

// What the callbacks saw and will answer. Callbacks carry no user pointer,
// so one record serves the whole process: start it afresh before every run.
struct Calls {
  std::string printed;                // every printed text, in order
  std::string log;                    // the replace, password and list-entry calls, a word each
  std::string root;                   // left out of the paths given to the replace callback
  std::deque<int32_t> replies;        // replace answers; past the end "no"
  std::deque<std::string> passwords;  // past the end the callback answers 1 (skip)
  int cancelAt = -1;                  // the service call that asks to stop, from 0
};
inline Calls& Recorded() {
  static Calls calls;
  return calls;
}
inline void Log(std::string& log, const std::string& word) {
  log += (log.empty() ? "" : " ") + word;
}

extern "C" {
inline int32_t UNZIP32_CALL OnPrint(const char* text, int32_t length) {
  EXPECT_LE(length, 32768) << "a piece longer than the print callback reads";
  Recorded().printed.append(text, static_cast<size_t>(length));
  return 0;
}
inline int32_t UNZIP32_CALL OnReplace(const char* name) {
  Calls& c = Recorded();
  const std::string path = name;
  const bool inside = !c.root.empty() && path.starts_with(c.root);
  Log(c.log, "R:" + (inside ? path.substr(c.root.size() + 1) : path));
  const int32_t answer = c.replies.empty() ? UNZIP32_REPLACE_NO : c.replies.front();
  if (!c.replies.empty()) c.replies.pop_front();
  return answer;
}
inline int32_t UNZIP32_CALL OnPassword(char* buffer, int32_t size, const char*, const char* name) {
  Calls& c = Recorded();
  Log(c.log, "P:" + std::string(name));
  EXPECT_EQ(size, 256);
  if (c.passwords.empty()) return 1;
  std::snprintf(buffer, static_cast<size_t>(size), "%s", c.passwords.front().c_str());
  c.passwords.pop_front();
  return 0;
}
inline void UNZIP32_CALL OnListEntry(uint32_t size, uint32_t compressed, int32_t ratio,
                                     int32_t month, int32_t day, int32_t year, int32_t hour,
                                     int32_t minute, int32_t index, const char* name,
                                     const char* method, uint32_t crc, int32_t encrypted) {
  char line[300];
  std::snprintf(line, sizeof line, "L:%s:%u:%u:%d:%d-%02d-%02d:%02d%02d:%d:%s:%08x:%d", name, size,
                compressed, ratio, year, month, day, hour, minute, index, method, crc, encrypted);
  Log(Recorded().log, line);
}
inline int32_t UNZIP32_CALL OnService(const char*, int32_t) {
  return Recorded().cancelAt-- == 0 ? 1 : 0;
}
}

// One call, with the options the installer sets and the two paths.
struct UnzipRun {
  UnzipOptions options{};
  std::string zip, dir;
  std::vector<std::string> include, exclude;
  bool callbacks = true;  // false: every callback slot null
  StackCheck check;       // every call through it

  UnzipRun(std::string zipPath, std::string extractDir)
      : zip(std::move(zipPath)), dir(std::move(extractDir)) {
    options.MessageLevel = options.HonorDirectories = options.OverWriteFiles = 1;
  }
  int32_t operator()() {
    UnzipNameList lists[2] = {};
    for (size_t i = 0; i < include.size(); ++i) lists[0].Names[i] = include[i].c_str();
    for (size_t i = 0; i < exclude.size(); ++i) lists[1].Names[i] = exclude[i].c_str();
    options.ZipFileName = zip.c_str();
    options.ExtractDir = dir.c_str();
    UnzipUserFunctions functions{};
    if (callbacks)
      functions = {OnPrint, nullptr, OnReplace, OnPassword, OnListEntry, OnService, {}};
    return check.Call(&Wiz_SingleEntryUnzip, static_cast<int32_t>(include.size()), &lists[0],
                      static_cast<int32_t>(exclude.size()), &lists[1], &options, &functions);
  }
};

using Tree_t = std::map<std::string, std::string>;

// Compressible text of exactly `bytes` bytes.
inline std::string Text(size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += "Pack my box with five dozen liquor jugs.\n";
  return s.substr(0, bytes);
}

// Everything below `root` by "/"-separated relative path: files map to their
// content, folders to "<folder>", links to "<link>"; with `files` only files.
inline Tree_t Tree(const std::string& root, bool files = false) {
  namespace fs = std::filesystem;
  Tree_t tree;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    // Lexical: fs::relative would resolve links and hide them.
    const std::string path = it->path().lexically_relative(root).generic_string();
    if (it->is_symlink(ec)) {
      tree[path] = "<link>";
    } else if (!it->is_directory(ec)) {
      std::ifstream in(it->path(), std::ios::binary);
      tree[path] = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    } else if (!files) {
      tree[path] = "<folder>";
    }
  }
  return tree;
}

}  // namespace qv::test
