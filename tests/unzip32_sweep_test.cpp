// Damage a valid archive in every way a byte can: cut it at every offset and
// flip every header byte. Each damaged archive must be refused or extracted
// correctly; nothing may land outside the extraction folder and nothing may
// crash (these tests run under AddressSanitizer).
#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qv::test {
namespace {

using Tree_t = std::map<std::string, std::string>;

ZipWriter SweepArchive() {
  ZipWriter zip;
  zip.AddFolder("d");
  zip.Add("d/a.txt", "stairs up, stairs down, stairs up again, stairs down again\n");
  zip.Add("b.bin", std::string("\x00\x01\x02\x03 stored bytes", 18), kStored);
  ZipEntry& e = zip.Add("c.txt", "encrypted and deflated, with a descriptor");
  e.password = "pw";
  e.dataDescriptor = true;
  ZipEntry& z = zip.Add("z.txt", "zip64");
  z.zip64 = true;
  return zip;
}

const Tree_t kExpected = {
    {"d", "<folder>"},
    {"d/a.txt", "stairs up, stairs down, stairs up again, stairs down again\n"},
    {"b.bin", std::string("\x00\x01\x02\x03 stored bytes", 18)},
    {"c.txt", "encrypted and deflated, with a descriptor"},
    {"z.txt", "zip64"},
};

// Runs the library on `bytes`; returns its result after checking that the
// temporary folder holds nothing but the archive and out/.
int32_t Extract(const TempDir& dir, const std::string& bytes, Tree_t& out) {
  std::filesystem::remove_all(dir.Join("out"));
  dir.Write("a.zip", bytes);
  dir.MakeFolder("out");
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  Recorder().Reset();
  Recorder().passwords = {"pw", "pw", "pw"};
  const int32_t rc = run.Again();
  Tree_t all = Tree(dir.Path());
  out.clear();
  for (const auto& [path, content] : all) {
    if (path.rfind("out/", 0) == 0) {
      out[path.substr(4)] = content;
    } else if (path != "a.zip" && path != "out") {
      ADD_FAILURE() << "written outside the extraction folder: " << path;
    }
  }
  return rc;
}

// Header byte ranges of the archive: local headers with names, central
// entries with names and extra fields, the end record.
std::vector<std::pair<size_t, size_t>> HeaderRanges(const ZipWriter& zip,
                                                    const std::string& bytes) {
  std::vector<std::pair<size_t, size_t>> ranges;
  for (size_t i = 0; i < zip.Count(); ++i) {
    const size_t at = zip.LocalOffsets()[i];
    auto le16 = [&bytes](size_t where) {
      return size_t{static_cast<uint8_t>(bytes[where])} |
             size_t{static_cast<uint8_t>(bytes[where + 1])} << 8;
    };
    const size_t nameLength = le16(at + 26);
    const size_t extraLength = le16(at + 28);
    ranges.emplace_back(at, at + 30 + nameLength + extraLength);
  }
  ranges.emplace_back(zip.DirectoryOffset(), bytes.size());
  return ranges;
}

TEST(Unzip32Sweep, TheUndamagedArchiveExtracts) {
  TempDir dir;
  Tree_t out;
  EXPECT_EQ(Extract(dir, SweepArchive().Build(), out), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(out, kExpected);
}

TEST(Unzip32Sweep, TruncatedAtEveryOffset) {
  TempDir dir;
  const std::string bytes = SweepArchive().Build();
  Tree_t out;
  for (size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE("cut at " + std::to_string(length) + " of " + std::to_string(bytes.size()));
    EXPECT_NE(Extract(dir, bytes.substr(0, length), out), UNZIP32_OK);
    for (const auto& [path, content] : out) {
      if (content == "<folder>") continue;
      // An entry the library wrote before it found the damage is whole.
      const auto it = kExpected.find(path);
      ASSERT_NE(it, kExpected.end()) << path;
      EXPECT_EQ(content, it->second) << path;
    }
    if (HasFailure()) break;  // one report is enough; the rest would repeat it
  }
}

TEST(Unzip32Sweep, EveryHeaderByteFlipped) {
  TempDir dir;
  const ZipWriter zip = SweepArchive();
  const std::string bytes = zip.Build();
  Tree_t out;
  int refused = 0;
  int extracted = 0;
  for (const auto& [begin, end] : HeaderRanges(zip, bytes)) {
    for (size_t at = begin; at < end; ++at) {
      for (const uint8_t mask : {uint8_t{0xFF}, uint8_t{0x01}}) {
        SCOPED_TRACE("byte " + std::to_string(at) + " xor " + std::to_string(mask));
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(static_cast<uint8_t>(damaged[at]) ^ mask);
        const int32_t rc = Extract(dir, damaged, out);
        if (rc == UNZIP32_OK) {
          ++extracted;
          EXPECT_EQ(out, kExpected) << "accepted, but extracted something else";
        } else {
          ++refused;
          for (const auto& [path, content] : out) {
            if (content == "<folder>") continue;
            const auto it = kExpected.find(path);
            ASSERT_NE(it, kExpected.end()) << "result " << rc << ", wrote " << path;
            EXPECT_EQ(content, it->second) << path;
          }
        }
        if (HasFailure()) return;
      }
    }
  }
  // Both outcomes occur: flags the library ignores (times, versions) and
  // fields it must check (signatures, sizes, names).
  EXPECT_GT(refused, 0);
  EXPECT_GT(extracted, 0);
}

}  // namespace
}  // namespace qv::test
