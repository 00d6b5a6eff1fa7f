// The zip library's binary interface as the real library sees it: records
// laid out byte by byte at the offsets callers rely on (not through the
// header's structs), the callback slots, and the entry points' calling
// convention. A library built with another layout or convention than its
// callers fails here, not in the field.
#include "support/StackCheck.h"
#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace qv::test {
namespace {

using namespace std::string_literals;

constexpr std::size_t kPointer = sizeof(void*);

// Where each record field lives: on 32-bit targets the fixed offsets of the
// interface (the header checks them as it is compiled), on 64-bit ones the
// same members with natural alignment.
struct Layout {
  std::size_t options, zipFileName, extractDir, functions, nameList;
};
constexpr Layout kLayout =
    kPointer == 4 ? Layout{68, 60, 64, 44, 400} : Layout{80, 64, 72, 72, 800};

template <typename T>
void Put(std::vector<unsigned char>& record, std::size_t offset, T value) {
  ASSERT_LE(offset + sizeof value, record.size());
  std::memcpy(record.data() + offset, &value, sizeof value);
}

// One extraction with raw records: the options and the callbacks exactly
// where the interface puts them. `field` is an option offset set to 1.
int32_t RawRun(const std::string& zip, const std::string& out, std::size_t field,
               StackCheck& check) {
  std::vector<unsigned char> options(kLayout.options, 0), functions(kLayout.functions, 0),
      names(kLayout.nameList, 0);
  Put<int32_t>(options, field, 1);
  Put<int32_t>(options, 12, 2);  // MessageLevel: a line per entry
  Put(options, kLayout.zipFileName, zip.c_str());
  Put(options, kLayout.extractDir, out.c_str());
  Put(functions, 0 * kPointer, &OnPrint);
  Put(functions, 2 * kPointer, &OnReplace);
  Put(functions, 3 * kPointer, &OnPassword);
  Put(functions, 4 * kPointer, &OnListEntry);
  Put(functions, 5 * kPointer, &OnService);
  const auto* list = reinterpret_cast<const UnzipNameList*>(names.data());
  Recorded() = {};
  Recorded().replies = {UNZIP32_REPLACE_YES};
  Recorded().passwords = {"pw"};
  return check.Call(&Wiz_SingleEntryUnzip, 0, list, 0, list,
                    reinterpret_cast<const UnzipOptions*>(options.data()),
                    reinterpret_cast<const UnzipUserFunctions*>(functions.data()));
}

TEST(Unzip32Abi, RawRecordsReachTheLibraryAndEverySlotIsCalled) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("Stairs/Oak.package", "new oak", kStored);
  zip.Add("locked.txt", "behind a password", kStored).password = "pw";
  zip.Save(dir.Join("a.zip"));
  dir.Write("out/Oak.package", "old oak");
  StackCheck check;
  // PromptOverwrite at 8 on, OverWriteFiles at 40 and HonorDirectories at 36
  // left off: the existing file is asked about, the folder is dropped.
  ASSERT_EQ(RawRun(dir.Join("a.zip"), dir.Join("out"), 8, check), UNZIP32_OK) << Recorded().printed;
  EXPECT_EQ(Tree(dir.Join("out")),
            (Tree_t{{"Oak.package", "new oak"}, {"locked.txt", "behind a password"}}));
  EXPECT_EQ(Recorded().log, "R:" + dir.Join("out") + "/Oak.package P:locked.txt");
  EXPECT_EQ(Recorded().services, "Stairs/Oak.package:7 locked.txt:17");
  EXPECT_NE(Recorded().printed.find("locked.txt"), std::string::npos);

  // ExtractList at 24: the list-entry slot, with the entry's values in order.
  ASSERT_EQ(RawRun(dir.Join("a.zip"), dir.Join("out"), 24, check), UNZIP32_OK);
  EXPECT_EQ(Recorded().log,
            "L:Stairs/Oak.package:7:7:0:2021-06-15:1230:0:Stored:10118be5:0 "
            "L:locked.txt:17:29:0:2021-06-15:1230:1:Stored:37fbe5f7:1");
  EXPECT_EQ(check.imbalance, 0) << "Wiz_SingleEntryUnzip has the wrong calling convention";
}

// Every byte of the record is written, none past it.
TEST(Unzip32Abi, VersionIsWrittenWithinItsSixtyFourBytes) {
  std::vector<unsigned char> info(80, 0xEE);
  Put<int32_t>(info, 0, 63);
  auto* record = reinterpret_cast<UnzipVersionInfo*>(info.data());
  StackCheck check;
  EXPECT_EQ(check.Call(&UzpVersion2, record), UNZIP32_ERR_PARAMETER) << "63 bytes are too few";
  EXPECT_EQ(UzpVersion2(nullptr), UNZIP32_ERR_PARAMETER);
  Put<int32_t>(info, 0, 64);
  ASSERT_EQ(check.Call(&UzpVersion2, record), UNZIP32_OK);
  EXPECT_EQ(check.imbalance, 0) << "UzpVersion2 has the wrong calling convention";
  // Flags (a release, with zlib), beta level "", the date, zlib's version
  // (cut to 9), then library 1.0.0, zip format 4.5 and interface 1.0.0.
  std::string expected = Le(64, 4) + Le(2, 4) + std::string(10, '\0') + record->Date;
  expected += std::string(38 - expected.size(), '\0') + std::string(zlibVersion()).substr(0, 9);
  expected += std::string(48 - expected.size(), '\0') + "\1\0\0\0\4\5"s + std::string(6, '\0');
  expected += "\1\0\0\0"s + std::string(16, '\xEE');
  EXPECT_EQ(std::string(info.begin(), info.end()), expected);
  EXPECT_EQ(std::string(record->Date).size(), 10u) << record->Date;
}

}  // namespace
}  // namespace qv::test
