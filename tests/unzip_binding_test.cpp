// The binding to the unzip32 library: CGUnzipFiles, VBUnzip and the
// callbacks, against a stand-in library (tests/fake_unzip32) that records
// what it is handed and calls the callbacks as the library would. (The
// end-to-end tests run the real library through the binding.)
#include <gtest/gtest.h>

#include <map>

#include "FakeUnzip32.h"
#include "platform/DynamicLibrary.h"
#include "support/ScriptedDialogs.h"
#include "unzip/CGUnzipFiles.h"
#include "unzip/CodeModule.h"

using namespace qv;

class Binding : public ::testing::Test {
 protected:
  // A control function of the stand-in, which is loaded once for the process.
  template <typename Function>
  static Function* Fake(const char* name) {
    static const auto library = platform::DynamicLibrary::Load("unzip32fake");
    return reinterpret_cast<Function*>(library.Symbol(name));
  }
  void SetUp() override {
    Fake<decltype(FakeUnzip32_Reset)>("FakeUnzip32_Reset")();
    SetUnzipLibraryNameForTesting("unzip32fake");
  }
  void TearDown() override {
    // The stand-in calls every callback through the stack check.
    EXPECT_EQ(Record().stackImbalance, 0) << "a callback has the wrong calling convention";
    SetUnzipLibraryNameForTesting("unzip32");
  }
  static const FakeUnzip32Record& Record() {
    return *Fake<decltype(FakeUnzip32_Record)>("FakeUnzip32_Record")();
  }
  test::ScopedDialogs dialogs_;
};

// The check that TearDown relies on sees a callback of the wrong convention:
// on 32-bit x86 it leaves its two 4-byte arguments on the stack.
TEST_F(Binding, StackCheckSeesTheWrongCallingConvention) {
  EXPECT_EQ(Fake<decltype(FakeUnzip32_MismatchedConvention)>("FakeUnzip32_MismatchedConvention")(),
            sizeof(void*) == 4 ? 8 : 0);
}

// The options of the library's record by name.
std::map<std::string, int32_t> ByName(const UnzipOptions& o) {
  // clang-format off
  return {{"ExtractOnlyNewer", o.ExtractOnlyNewer}, {"SpaceToUnderScore", o.SpaceToUnderScore},
          {"PromptOverwrite", o.PromptOverwrite}, {"MessageLevel", o.MessageLevel},
          {"WriteToStdOut", o.WriteToStdOut}, {"TestZip", o.TestZip},
          {"ExtractList", o.ExtractList}, {"ExtractNewer", o.ExtractNewer},
          {"DisplayComment", o.DisplayComment},
          {"HonorDirectories", o.HonorDirectories}, {"OverWriteFiles", o.OverWriteFiles},
          {"ConvertCRtoCRLF", o.ConvertCRtoCRLF}, {"Verbose", o.Verbose},
          {"CaseSensitive", o.CaseSensitive}, {"Privilege", o.Privilege}};
  // clang-format on
}

// Each option switched from its default, a flag to the other value, an
// integer to -32768 (the lowest that fits 16 bits), reaches its own field,
// widened with its sign; a flag reads true only when it holds 1. The
// version record is handed over with space-padded texts.
TEST_F(Binding, EachOptionReachesItsOwnField) {
  // clang-format off
  const std::map<std::string, int32_t> defaults = {
      {"ExtractOnlyNewer", 0}, {"SpaceToUnderScore", 0}, {"PromptOverwrite", 0},
      {"MessageLevel", 2}, {"WriteToStdOut", 0}, {"TestZip", 0}, {"ExtractList", 0},
      {"ExtractNewer", 0}, {"DisplayComment", 0}, {"HonorDirectories", 1}, {"OverWriteFiles", 1},
      {"ConvertCRtoCRLF", 0}, {"Verbose", 0}, {"CaseSensitive", 1}, {"Privilege", 0}};
  const std::map<std::string, int32_t> changed = {
      {"ExtractOnlyNewer", 1}, {"SpaceToUnderScore", 1}, {"PromptOverwrite", 1},
      {"MessageLevel", -32768}, {"WriteToStdOut", 1}, {"TestZip", 1}, {"ExtractList", -32768},
      {"ExtractNewer", 1}, {"DisplayComment", 1}, {"HonorDirectories", 0}, {"OverWriteFiles", 0},
      {"ConvertCRtoCRLF", 1}, {"Verbose", 1}, {"CaseSensitive", 0}, {"Privilege", -32768}};
  // clang-format on
  CGUnzipFiles unzip;
  EXPECT_TRUE(unzip.HonorDirectories() && !unzip.Verbose() && unzip.ExtractList() == 0);
  ASSERT_EQ(unzip.Unzip("a.zip", "out"), 0);
  EXPECT_EQ(ByName(Record().options), defaults) << "from a new object";
  // Name lists that select every entry: no count, no name.
  EXPECT_EQ(Record().includeCount, 0);
  EXPECT_EQ(Record().excludeCount, 0);
  EXPECT_EQ(Record().namesGiven, 0);
  const UnzipVersionInfo& version = Record().version;
  EXPECT_EQ(version.StructLength, 64);
  EXPECT_EQ(std::string(version.BetaLevel, 10), std::string(9, ' ') + '\0') << "BetaLevel";
  EXPECT_EQ(std::string(version.Date, 20), std::string(19, ' ') + '\0') << "Date";
  EXPECT_EQ(std::string(version.ZlibVersion, 10), std::string(9, ' ') + '\0') << "ZlibVersion";
  unzip.SetExtractNewer(true), unzip.SetSpaceToUnderScore(true), unzip.SetPromptOverwrite(true);
  unzip.SetWriteToStdOut(true), unzip.SetTestZip(true), unzip.SetExtractOnlyNewer(true);
  unzip.SetDisplayComment(true), unzip.SetConvertCRtoCRLF(true), unzip.SetVerbose(true);
  unzip.SetHonorDirectories(false), unzip.SetOverWriteFiles(false), unzip.SetCaseSensitive(false);
  unzip.SetMessageLevel(-32768), unzip.SetExtractList(-32768), unzip.SetPrivilege(-32768);
  EXPECT_TRUE(!unzip.HonorDirectories() && unzip.Verbose() && unzip.ExtractList() == -32768);
  ASSERT_EQ(unzip.Unzip("a.zip", "out"), 0);
  EXPECT_EQ(ByName(Record().options), changed) << "every option changed";
}

// A front end that cannot show anything: no exception may cross the
// library's C frames.
struct BrokenDialogs : platform::DialogFrontEnd {
  int32_t MessageBox(const std::string&, int32_t, const std::string&) override { throw 1; }
  std::string InputBox(const std::string&, const std::string&, const std::string&) override {
    throw 1;
  }
};

// One call of a callback by the stand-in: the buffer as the library hands it
// (exactly that long) with its length or size, and what the callback answers,
// leaves in the buffer, shows and collects.
struct CallRow {
  std::string name{};
  int32_t slot = kFakePrint;
  bool sameRun = false;  // within the latest extraction, not a new one
  bool noBoxes = false;  // with a front end that cannot show a box
  std::string in{};
  int32_t size = 0;
  std::string typed{};  // into the input box
  int32_t answer = 0;
  std::optional<std::string> out{};  // unset: the buffer as handed over
  std::string box{};                 // the text of the box shown, if one is
  std::string collected{};           // GetLastMessage afterwards
};

// The password goes into the library's buffer, zero-filled up to the size the
// library gave and never past it or index 256; an empty answer is not asked
// for again in the same run, but in the next. A replace box answered No keeps
// the file (100); one that cannot be shown replaces it (102). Printed text is
// read up to its length and its first NUL; a line feed in front stands for
// CR LF alone.
TEST_F(Binding, CallbacksAnswerWithinTheLibrarysBuffers) {
  const std::string fill(300, '\xAA'), nul(1, '\0'), ask = "Please Enter The Password!";
  const int32_t password = kFakePassword, replace = kFakeReplace;
  // clang-format off
  const CallRow rows[] = {
      {.name = "PasswordInABufferOfTwo", .slot = password, .in = fill.substr(0, 20), .size = 2,
       .typed = "pw", .out = "p" + nul + fill.substr(0, 18), .box = ask},
      {.name = "PasswordCutAtIndex256", .slot = password, .in = fill, .size = 300,
       .typed = std::string(299, 'q'), .out = std::string(256, 'q') + nul + fill.substr(0, 43),
       .box = ask},
      {.name = "NoRoomForAPassword", .slot = password, .in = fill.substr(0, 4), .size = 1,
       .typed = "pw", .answer = 1, .box = ask},
      {.name = "NoPasswordGiven", .slot = password, .in = "zz", .size = 2, .answer = 1, .box = ask},
      {.name = "NotAskedAgainInTheRun", .slot = password, .sameRun = true, .in = "zz", .size = 2,
       .answer = 1},
      {.name = "AskedAgainInTheNextRun", .slot = password, .in = "zz", .size = 2, .typed = "p",
       .out = "p" + nul, .box = ask},
      {.name = "PasswordWithoutABox", .slot = password, .noBoxes = true, .in = "zz", .size = 2,
       .answer = 1},
      {.name = "ReplaceAnsweredNo", .slot = replace, .in = "x" + nul, .answer = 100,
       .box = "Overwrite x?"},
      {.name = "ReplaceWithoutABox", .slot = replace, .noBoxes = true, .in = "x" + nul,
       .answer = 102},
      {.name = "Printed", .in = "ab", .size = 2, .collected = "ab"},
      {.name = "PrintedUpToItsLength", .in = "ab", .size = 1, .collected = "a"},
      {.name = "PrintedUpToItsNul", .in = "a" + nul + "b", .size = 3, .collected = "a"},
      {.name = "PrintedLineFeedFirst", .in = "\nab", .size = 3, .collected = "\r\n"},
      // A new run forgets what the run before printed.
      {.name = "ListEntry", .slot = kFakeListEntry},
      {.name = "Service", .slot = kFakeService},
  };
  // clang-format on
  const auto call = Fake<decltype(FakeUnzip32_Call)>("FakeUnzip32_Call");
  for (const CallRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto dialogs = std::make_shared<test::ScriptedDialogs>();
    dialogs->AnswerInput(row.typed);
    std::shared_ptr<platform::DialogFrontEnd> frontEnd = dialogs;
    if (row.noBoxes) frontEnd = std::make_shared<BrokenDialogs>();
    platform::SetDialogFrontEnd(frontEnd);
    if (!row.sameRun) {
      ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
    }
    std::vector<char> buffer(row.in.begin(), row.in.end());
    EXPECT_EQ(call(row.slot, buffer.data(), row.size), row.answer) << "the answer";
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), row.out.value_or(row.in)) << "the buffer";
    EXPECT_EQ(dialogs->Boxes(), row.box.empty() ? std::vector<std::string>() : std::vector{row.box})
        << "the boxes shown";
    EXPECT_EQ(CGUnzipFiles().GetLastMessage(), row.collected) << "the text collected";
  }
}
