// The zip library restores stored Unix permission bits with the Privilege
// option, never the set-user-id bits: a POSIX matter (Windows files carry no
// such bits).
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace qv::test {
namespace {

TEST(Unzip32Permissions, StoredBitsWithoutSetIdBits) {
  struct Mode {
    const char* name;
    uint32_t stored;
    uint32_t restored;  // with Privilege 1 or 2
  };
  const Mode modes[] = {
      {"plain.bin", 0640, 0640},   {"script.sh", 0750, 0750},   {"setuid.bin", 04755, 0755},
      {"setgid.bin", 02755, 0755}, {"sticky.bin", 01777, 0777}, {"private.bin", 0600, 0600},
  };
  ZipWriter zip;
  for (const Mode& m : modes) zip.Add(m.name, "x").unixMode = kModeFile | m.stored;
  for (int privilege : {0, 1, 2}) {
    SCOPED_TRACE(privilege);
    Scratch x;
    zip.Save(x.zip);
    UnzipRun run = x.Run();
    run.options.Privilege = privilege;
    EXPECT_EQ(run(), UNZIP32_OK) << Recorder().printed;
    for (const Mode& m : modes) {
      struct stat st {};
      ASSERT_EQ(::stat((x.out + "/" + m.name).c_str(), &st), 0) << m.name;
      const auto mode = static_cast<uint32_t>(st.st_mode) & 07777u;
      if (privilege == 0) {
        EXPECT_EQ(mode & 07111u, 0u) << m.name << " got stored bits without Privilege";
      } else {
        EXPECT_EQ(mode, m.restored) << m.name;
      }
    }
  }
}

}  // namespace
}  // namespace qv::test
