// Writes the seed corpus of the fuzz targets with the tests' zip writer:
// small archives of every layout the library reads, and entry names of
// every kind the name check must judge.
//   fuzz_make_seeds <fuzz/corpus>
#include "support/ZipWriter.h"

#include <cstdio>
#include <fstream>
#include <string>

using namespace qv::test;

namespace {

void Save(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::string extract = std::string(argv[1]) + "/unzip32_extract/";
  const std::string names = std::string(argv[1]) + "/unzip32_entry_name/";
  const std::string text = "a stair, a step, a landing; a stair, a step, a landing\n";
  {
    ZipWriter z;
    z.Add("a.txt", text, kStored);
    z.Add("d/b.txt", text + text);
    z.AddFolder("d/e");
    Save(extract + "seed-plain.zip", z.Build());
  }
  {
    ZipWriter z;
    z.comment = "comment";
    z.Add("dd.txt", text).dataDescriptor = true;
    z.Add("dd.bin", "stored", kStored).dataDescriptor = true;
    Save(extract + "seed-descriptor.zip", z.Build());
  }
  {
    ZipWriter z;
    z.zip64End = true;
    z.Add("z.txt", text).zip64 = true;
    ZipEntry& e = z.Add("zd.txt", "x");
    e.zip64 = true;
    e.dataDescriptor = true;
    Save(extract + "seed-zip64.zip", z.Build());
  }
  {
    ZipWriter z;
    z.Add("enc.txt", text).password = "pw";
    ZipEntry& e = z.Add("encdd.bin", "stored secret", kStored);
    e.password = "pw";
    e.dataDescriptor = true;
    Save(extract + "seed-encrypted.zip", z.Build());
  }
  {
    ZipWriter z;
    z.Add("../up.txt", "x");
    z.Add("C:\\drive.txt", "x");
    z.AddSymlink("ln", "..");
    z.Add("ln/through.txt", "x");
    z.Add("Same.txt", "1");
    z.Add("same.txt", "2");
    z.Add("u.sh", "#!/bin/sh\n").unixMode = kModeFile | 04755;
    Save(extract + "seed-names.zip", z.Build());
  }
  {
    ZipWriter z;
    z.Add("outer", "").containsNext = true;
    z.Add("inner.txt", text);
    Save(extract + "seed-overlap.zip", z.Build());
  }
  {
    // Quirks of real writers: offsets that leave out a stub, bit 3 in one
    // header only, a descriptor without signature, bytes after the stream.
    ZipWriter z;
    z.prefix = "MZ stub";
    z.offsetsLeaveOutPrefix = true;
    z.Add("local-only.txt", text).local.flags = 8;
    ZipEntry& bare = z.Add("bare.txt", text);
    bare.dataDescriptor = true;
    bare.descriptorSignature = false;
    z.Add("trailing.txt", text).rawPayload = Deflate(text) + "tail";
    Save(extract + "seed-quirks.zip", z.Build());
  }
  {
    ZipWriter z;
    z.prefix = "stub";
    z.offsetsLeaveOutPrefix = true;
    z.zip64End = true;
    z.Add("z.txt", text).zip64 = true;
    Save(extract + "seed-zip64-stub.zip", z.Build());
  }
  {
    ZipWriter z;
    ZipEntry& e = z.Add("aes.txt", "x", kAes);
    e.addFlags = 1;
    e.centralExtra = AesExtraField();
    e.localExtra = AesExtraField();
    z.Add("lzma.txt", "x", 14);
    Save(extract + "seed-unsupported.zip", z.Build());
  }
  const char* const nameSeeds[] = {
      "plain.txt",   "dir/sub/file.package",
      "dir/",        "../x",
      "a/../../x",   "/abs",
      "\\abs",       "C:x",
      "C:\\x",       "\\\\server\\share\\x",
      "a\\b\\c.txt", "./a/./b",
      "a//b",        "CON.txt",
      "name.",       "name ",
      "a:stream",    "..\\..\\x",
      "...",         "a/b/",
  };
  int n = 0;
  for (const char* name : nameSeeds) Save(names + "seed-" + std::to_string(n++), name);
  Save(names + "seed-nul", std::string("a\0b", 3));
  Save(names + "seed-control",
       "a\x01"
       "b");
  return 0;
}
