// The zip library's binary interface as the real library sees it: records
// laid out byte by byte at the offsets callers rely on (not through the
// header's structs), the callback slots, and the entry points' calling
// convention. A library built with another layout or convention than its
// callers fails here, not in the field.
#include "support/StackCheck.h"
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

constexpr std::size_t kPointer = sizeof(void*);

// Where each record field lives. On 32-bit targets these are the fixed
// offsets of the interface; on 64-bit ones the same members with natural
// alignment.
struct Layout {
  std::size_t options, zipFileName, extractDir;
  std::size_t functions;  // slots one pointer apart from 0, then 20 reserved bytes
  std::size_t version, nameList;
};
constexpr Layout kLayout =
    kPointer == 4 ? Layout{68, 60, 64, 44, 64, 400} : Layout{80, 64, 72, 72, 64, 800};

TEST(Unzip32Abi, RecordSizesAndOffsets) {
  EXPECT_EQ(sizeof(UnzipOptions), kLayout.options);
  EXPECT_EQ(offsetof(UnzipOptions, ZipFileName), kLayout.zipFileName);
  EXPECT_EQ(offsetof(UnzipOptions, ExtractDir), kLayout.extractDir);
  EXPECT_EQ(offsetof(UnzipOptions, HonorDirectories), 36u);
  EXPECT_EQ(sizeof(UnzipUserFunctions), kLayout.functions);
  EXPECT_EQ(offsetof(UnzipUserFunctions, Service), 5 * kPointer);
  EXPECT_EQ(sizeof(UnzipVersionInfo), kLayout.version);
  EXPECT_EQ(sizeof(UnzipNameList), kLayout.nameList);
}

template <typename T>
void Put(std::vector<unsigned char>& record, std::size_t offset, T value) {
  ASSERT_LE(offset + sizeof value, record.size());
  std::memcpy(record.data() + offset, &value, sizeof value);
}

// One extraction with raw records: the options and the callbacks exactly
// where the interface puts them. `fields` are option offsets set to 1.
int32_t RawRun(const Scratch& s, const std::vector<std::size_t>& fields, StackCheck& check) {
  std::vector<unsigned char> options(kLayout.options, 0);
  for (const std::size_t offset : fields) Put<int32_t>(options, offset, 1);
  Put<int32_t>(options, 12, 2);  // MessageLevel: a line per entry
  Put(options, kLayout.zipFileName, s.zip.c_str());
  Put(options, kLayout.extractDir, s.out.c_str());

  std::vector<unsigned char> functions(kLayout.functions, 0);
  Put(functions, 0 * kPointer, &RecordPrint);
  Put(functions, 2 * kPointer, &RecordReplace);
  Put(functions, 3 * kPointer, &RecordPassword);
  Put(functions, 4 * kPointer, &RecordListEntry);
  Put(functions, 5 * kPointer, &RecordService);

  std::vector<unsigned char> names(kLayout.nameList, 0);
  const auto* list = reinterpret_cast<const UnzipNameList*>(names.data());
  return check.Call(&Wiz_SingleEntryUnzip, 0, list, 0, list,
                    reinterpret_cast<const UnzipOptions*>(options.data()),
                    reinterpret_cast<const UnzipUserFunctions*>(functions.data()));
}

TEST(Unzip32Abi, RawRecordsReachTheLibraryAndEverySlotIsCalled) {
  Scratch s;
  ZipWriter zip;
  zip.Add("Stairs/Oak.package", "new oak");
  zip.Add("locked.txt", "behind a password").password = "pw";
  zip.Save(s.zip);
  s.dir.Write("out/Oak.package", "old oak");

  StackCheck check;
  Recorder().Reset();
  Recorder().replaceAnswers = {UNZIP32_REPLACE_YES};
  Recorder().passwords = {"pw"};
  // PromptOverwrite at 8 on, OverWriteFiles at 40 and HonorDirectories at 36
  // left off: the existing file is asked about, the folder is dropped.
  ASSERT_EQ(RawRun(s, {8}, check), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(Files(s.out),
            (Tree_t{{"Oak.package", "new oak"}, {"locked.txt", "behind a password"}}));
  ASSERT_EQ(Recorder().replaceNames.size(), 1u);
  EXPECT_NE(Recorder().replaceNames[0].find("Oak.package"), std::string::npos);
  ASSERT_EQ(Recorder().passwordRequests.size(), 1u);
  EXPECT_EQ(Recorder().passwordRequests[0].name, "locked.txt");
  EXPECT_EQ(Recorder().serviced.size(), 2u);
  EXPECT_GT(Recorder().printCalls, 0);
  EXPECT_TRUE(Recorder().listed.empty());

  // ExtractList at 24: the list-entry slot, with the entry's values in order.
  Recorder().Reset();
  ASSERT_EQ(RawRun(s, {24}, check), UNZIP32_OK) << Recorder().printed;
  ASSERT_EQ(Recorder().listed.size(), 2u);
  EXPECT_EQ(Recorder().listed[0].name, "Stairs/Oak.package");
  EXPECT_EQ(Recorder().listed[0].size, 7u);
  EXPECT_EQ(Recorder().listed[1].encrypted, 1);
  EXPECT_EQ(Recorder().listed[1].index, 1);
  EXPECT_EQ(check.imbalance, 0) << "Wiz_SingleEntryUnzip has the wrong calling convention";
}

TEST(Unzip32Abi, VersionIsWrittenWithinItsSixtyFourBytes) {
  std::vector<unsigned char> info(kLayout.version + 16, 0xEE);
  std::memset(info.data(), 0, kLayout.version);
  Put<int32_t>(info, 0, 64);
  StackCheck check;
  ASSERT_EQ(check.Call(&UzpVersion2, reinterpret_cast<UnzipVersionInfo*>(info.data())), 0);
  EXPECT_EQ(check.imbalance, 0) << "UzpVersion2 has the wrong calling convention";
  const auto* text = reinterpret_cast<const char*>(info.data());
  const std::string date(text + 18);
  EXPECT_EQ(date.size(), 10u) << date;
  EXPECT_EQ(date[4], '-');
  EXPECT_EQ(std::string(text + 38), zlibVersion());
  EXPECT_EQ(info[48], 1) << "library major version";
  EXPECT_EQ(info[60], 1) << "interface major version";
  for (std::size_t i = kLayout.version; i < info.size(); ++i)
    EXPECT_EQ(info[i], 0xEE) << "written past the record at " << i;
}

}  // namespace
}  // namespace qv::test
