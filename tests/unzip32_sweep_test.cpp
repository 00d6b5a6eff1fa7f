// Damage a valid archive in every way a byte can: cut it at every offset and
// flip every header byte. Each damaged archive must be refused or extracted
// correctly; nothing may land outside the extraction folder and nothing may
// crash (these tests run under AddressSanitizer).
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qv::test {
namespace {

ZipWriter SweepArchive() {
  ZipWriter zip;
  zip.AddFolder("d");
  zip.Add("d/a.txt", "stairs up, stairs down, stairs up again, stairs down again\n");
  zip.Add("b.bin", std::string("\x00\x01\x02\x03 stored bytes", 18), kStored);
  ZipEntry& e = zip.Add("c.txt", "encrypted and deflated, with a descriptor");
  e.password = "pw";
  e.dataDescriptor = true;
  zip.Add("z.txt", "zip64").zip64 = true;
  return zip;
}

const Tree_t kExpected = {
    {"d", "<folder>"},
    {"d/a.txt", "stairs up, stairs down, stairs up again, stairs down again\n"},
    {"b.bin", std::string("\x00\x01\x02\x03 stored bytes", 18)},
    {"c.txt", "encrypted and deflated, with a descriptor"},
    {"z.txt", "zip64"},
};

// Runs the library on `bytes` and returns its result, after checking that
// nothing was written outside out/ and that every file in out/ is whole.
// `out` gets what out/ holds.
int32_t Extract(const TempDir& dir, const std::string& bytes, Tree_t& out) {
  std::filesystem::remove_all(dir.Join("out"));
  dir.Write("a.zip", bytes);
  dir.MakeFolder("out");
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  Recorder().Reset();
  Recorder().passwords = {"pw", "pw", "pw"};
  const int32_t rc = run.Again();
  out.clear();
  for (const auto& [path, content] : Tree(dir.Path())) {
    if (path.rfind("out/", 0) == 0) {
      out[path.substr(4)] = content;
    } else if (path != "a.zip" && path != "out") {
      ADD_FAILURE() << "written outside the extraction folder: " << path;
    }
  }
  for (const auto& [path, content] : out) {
    const auto it = kExpected.find(path);
    if (it == kExpected.end()) {
      ADD_FAILURE() << "result " << rc << ", wrote " << path;
    } else {
      EXPECT_EQ(content, it->second) << "result " << rc << ", " << path << " is not whole";
    }
  }
  return rc;
}

TEST(Unzip32Sweep, TruncatedAtEveryOffset) {
  TempDir dir;
  const std::string bytes = SweepArchive().Build();
  Tree_t out;
  EXPECT_EQ(Extract(dir, bytes, out), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(out, kExpected) << "the undamaged archive";
  for (size_t length = 0; length < bytes.size() && !HasFailure(); ++length) {
    SCOPED_TRACE("cut at " + std::to_string(length) + " of " + std::to_string(bytes.size()));
    EXPECT_NE(Extract(dir, bytes.substr(0, length), out), UNZIP32_OK);
  }
}

TEST(Unzip32Sweep, EveryHeaderByteFlipped) {
  TempDir dir;
  const ZipWriter zip = SweepArchive();
  const std::string bytes = zip.Build();
  // The header bytes: local headers with names and extra fields, then the
  // central directory and the end record.
  std::vector<std::pair<size_t, size_t>> ranges;
  auto le16 = [&bytes](size_t at) {
    return size_t{static_cast<uint8_t>(bytes[at])} | size_t{static_cast<uint8_t>(bytes[at + 1])}
                                                         << 8;
  };
  // The writer's offsets are 64-bit; the archive is in memory, so each fits
  // in size_t even on a 32-bit target.
  for (const uint64_t offset : zip.LocalOffsets()) {
    ASSERT_LT(offset, bytes.size());
    const auto at = static_cast<size_t>(offset);
    ranges.emplace_back(at, at + 30 + le16(at + 26) + le16(at + 28));
  }
  ASSERT_LT(zip.DirectoryOffset(), bytes.size());
  ranges.emplace_back(static_cast<size_t>(zip.DirectoryOffset()), bytes.size());
  Tree_t out;
  int refused = 0;
  int extracted = 0;
  for (const auto& [begin, end] : ranges) {
    for (size_t at = begin; at < end && !HasFailure(); ++at) {
      for (const uint8_t mask : {uint8_t{0xFF}, uint8_t{0x01}}) {
        SCOPED_TRACE("byte " + std::to_string(at) + " xor " + std::to_string(mask));
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(static_cast<uint8_t>(damaged[at]) ^ mask);
        if (Extract(dir, damaged, out) != UNZIP32_OK) {
          ++refused;
        } else {
          ++extracted;
          EXPECT_EQ(out, kExpected) << "accepted, but extracted something else";
        }
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
