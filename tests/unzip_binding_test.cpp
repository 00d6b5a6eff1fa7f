// The binding to the unzip32 library: CGUnzipFiles, VBUnzip and the
// callbacks, against a stand-in library (tests/fake_unzip32) that records
// what it is handed and calls the callbacks as the library would. (The
// end-to-end tests run the real library through the binding.)
#include <gtest/gtest.h>

#include "FakeUnzip32.h"
#include "platform/DynamicLibrary.h"
#include "support/ScriptedDialogs.h"
#include "unzip/CGUnzipFiles.h"
#include "unzip/CodeModule.h"

using namespace qv;
using Values = std::vector<int32_t>;

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
  // Runs an extraction, then calls one of its callbacks with a buffer of
  // exactly `bytes`; gives the answer and the buffer afterwards.
  static std::string Callback(int32_t slot, const std::string& bytes, int32_t argument = 0) {
    EXPECT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
    return Again(slot, bytes, argument);
  }
  // The same within the latest extraction.
  static std::string Again(int32_t slot, const std::string& bytes, int32_t argument = 0) {
    std::vector<char> buffer(bytes.begin(), bytes.end());
    const int32_t answer =
        Fake<decltype(FakeUnzip32_Call)>("FakeUnzip32_Call")(slot, buffer.data(), argument);
    return std::to_string(answer) + ":" + std::string(buffer.begin(), buffer.end());
  }
  test::ScopedDialogs dialogs_;
};

// The check that TearDown relies on sees a callback of the wrong convention:
// on 32-bit x86 it leaves its two 4-byte arguments on the stack.
TEST_F(Binding, StackCheckSeesTheWrongCallingConvention) {
  EXPECT_EQ(Fake<decltype(FakeUnzip32_MismatchedConvention)>("FakeUnzip32_MismatchedConvention")(),
            sizeof(void*) == 4 ? 8 : 0);
}

// The options in VBUnzip's argument order, which is not the fields' order.
Values Fields(const UnzipOptions& o) {
  return {o.ExtractNewer,   o.SpaceToUnderScore, o.PromptOverwrite, o.MessageLevel,
          o.WriteToStdOut,  o.TestZip,           o.ExtractList,     o.ExtractOnlyNewer,
          o.DisplayComment, o.HonorDirectories,  o.OverWriteFiles,  o.ConvertCRtoCRLF,
          o.Verbose,        o.CaseSensitive,     o.Privilege};
}

// Each option switched from its default, a flag to the other value, an
// integer to -32768 (the lowest that fits 16 bits), reaches its own field,
// widened with its sign, and reads back from its property (a few checked).
TEST_F(Binding, EachOptionReachesItsOwnField) {
  using C = CGUnzipFiles;
  C unzip;
  const Values defaults = {0, 0, 0, 2, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0};
  const Values changed = {1, 1, 1, -32768, 1, 1, -32768, 1, 1, 0, 0, 1, 1, 0, -32768};
  for (const Values* expected : {&defaults, &changed}) {
    EXPECT_EQ(Values({unzip.HonorDirectories(), unzip.Verbose(), unzip.ExtractList()}),
              Values({(*expected)[9], (*expected)[12], (*expected)[6]}));
    ASSERT_EQ(unzip.Unzip("a.zip", "out"), 0);
    EXPECT_EQ(Fields(Record().options), *expected);
    for (auto set : {&C::SetExtractNewer, &C::SetSpaceToUnderScore, &C::SetPromptOverwrite,
                     &C::SetWriteToStdOut, &C::SetTestZip, &C::SetExtractOnlyNewer,
                     &C::SetDisplayComment, &C::SetConvertCRtoCRLF, &C::SetVerbose})
      (unzip.*set)(true);
    for (auto set : {&C::SetHonorDirectories, &C::SetOverWriteFiles, &C::SetCaseSensitive})
      (unzip.*set)(false);
    for (auto set : {&C::SetMessageLevel, &C::SetExtractList, &C::SetPrivilege})
      (unzip.*set)(-32768);
  }
}

// The answer goes into the library's buffer, zero-filled up to the size the
// library gave and never past it or index 256; an empty answer is not asked
// for again in the same run. The other callbacks answer as the library needs:
// No to a replace box is 100, keep the file.
TEST_F(Binding, CallbacksAnswerWithinTheLibrarysBuffers) {
  const std::string fill(300, '\xAA');
  auto answered = [&](const std::string& answer, std::size_t bytes, int32_t size) {
    dialogs_->AnswerInput(answer);
    return Callback(kFakePassword, fill.substr(0, bytes), size);
  };
  EXPECT_EQ(answered("pw", 20, 2), "0:p" + std::string(1, '\0') + fill.substr(0, 18));
  EXPECT_EQ(answered(std::string(299, 'q'), 300, 300),
            "0:" + std::string(256, 'q') + '\0' + fill.substr(0, 43));
  EXPECT_EQ(answered("pw", 4, 1), "1:" + fill.substr(0, 4));
  EXPECT_EQ(Callback(kFakePassword, "zz", 2), "1:zz");
  EXPECT_EQ(Again(kFakePassword, "zz", 2) + Again(kFakeReplace, std::string("x\0", 2)) +
                Again(kFakeListEntry, "") + Again(kFakeService, "") + Again(kFakePrint, "ab", 2),
            std::string("1:zz100:x\0", 10) + "0:0:0:ab");
  EXPECT_EQ(dialogs_->Boxes().size(), 5u);
  EXPECT_EQ(RunState().iPasswordCancelled, 1);
  EXPECT_EQ(CGUnzipFiles().Unzip("a.zip", "out") + RunState().iPasswordCancelled, 0);
}

// A front end that cannot show anything: no exception may cross the
// library's C frames, and a replace box that cannot ask replaces.
struct BrokenDialogs : platform::DialogFrontEnd {
  int32_t MessageBox(const std::string&, int32_t, const std::string&) override { throw 1; }
  std::string InputBox(const std::string&, const std::string&, const std::string&) override {
    throw 1;
  }
};

TEST_F(Binding, CallbacksAnswerWhenNoBoxCanBeShown) {
  platform::SetDialogFrontEnd(std::make_shared<BrokenDialogs>());
  EXPECT_EQ(Callback(kFakeReplace, std::string("x\0", 2)), std::string("102:x\0", 6));
  EXPECT_EQ(Again(kFakePassword, "zz", 2), "1:zz");
}
