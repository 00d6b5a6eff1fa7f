// The binding to the unzip32 library: CGUnzipFiles, VBUnzip and the
// callbacks. Most cases run against a stand-in library (tests/fake_unzip32)
// that records the raw records it is handed and calls the callbacks with
// buffers of exactly the scripted size; the last group runs the real library.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "FakeUnzip32.h"
#include "common/AppInfo.h"
#include "common/Error.h"
#include "platform/Dialogs.h"
#include "platform/DynamicLibrary.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "support/ZipWriter.h"
#include "unzip/CGUnzipFiles.h"
#include "unzip/CodeModule.h"

namespace qv {
namespace {

// Taken before any test runs: the state a fresh process starts with.
const CodeModuleRunState kInitialRunState = RunState();
const std::string kInitialLastMessage = CGUnzipFiles().GetLastMessage();

constexpr const char kFakeLibrary[] = "unzip32fake";

// The stand-in's control functions, bound once for the process.
struct FakeControl {
  platform::DynamicLibrary library = platform::DynamicLibrary::Load(kFakeLibrary);
  template <typename Function>
  Function Bind(const char* name) const {
    return reinterpret_cast<Function>(library.Symbol(name));
  }
  FakeUnzip32ResetFunction reset = Bind<FakeUnzip32ResetFunction>("FakeUnzip32_Reset");
  FakeUnzip32SetResultFunction setResult =
      Bind<FakeUnzip32SetResultFunction>("FakeUnzip32_SetResult");
  FakeUnzip32AddCallFunction addCall = Bind<FakeUnzip32AddCallFunction>("FakeUnzip32_AddCall");
  FakeUnzip32RecordFunction record = Bind<FakeUnzip32RecordFunction>("FakeUnzip32_Record");
  FakeUnzip32MismatchFunction mismatch =
      Bind<FakeUnzip32MismatchFunction>("FakeUnzip32_MismatchedConvention");
};

FakeControl& Fake() {
  static FakeControl control;
  return control;
}

const FakeUnzip32Record& Record() {
  return *Fake().record();
}

void Script(int32_t slot, const std::string& bytes, int32_t argument = 0) {
  Fake().addCall(slot, bytes.data(), static_cast<int32_t>(bytes.size()), argument);
}

int32_t OptionAt(std::size_t offset) {
  int32_t value = 0;
  std::memcpy(&value, Record().options + offset, sizeof value);
  return value;
}

template <typename T>
T FieldAt(const uint8_t* bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

std::string Bytes(const FakeUnzip32Call& call, std::size_t from, std::size_t to) {
  return std::string(reinterpret_cast<const char*>(call.buffer) + from, to - from);
}

// A run of VBUnzip with fifteen options, in the argument order.
int32_t RunVBUnzip(const std::vector<int16_t>& o, const std::optional<std::string>& zip = "a.zip",
                   const std::optional<std::string>& dir = "out") {
  return VBUnzip(zip, dir, o.at(0), o.at(1), o.at(2), o.at(3), o.at(4), o.at(5), o.at(6), o.at(7),
                 o.at(8), o.at(9), o.at(10), o.at(11), o.at(12), o.at(13), o.at(14));
}

// `call` raises the error `number` from `source`.
template <typename Call>
void ExpectError(Call call, int32_t number, const std::string& source,
                 const std::string& description = "") {
  try {
    call();
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), number);
    EXPECT_EQ(error.Source(), source);
    EXPECT_FALSE(error.Description().empty());
    if (!description.empty()) {
      EXPECT_EQ(error.Description(), description);
    }
  }
}

class UnzipBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake().reset();
    SetUnzipLibraryNameForTesting(kFakeLibrary);
  }
  void TearDown() override {
    // The stand-in calls every callback through the stack check.
    EXPECT_EQ(Record().stackImbalance, 0) << "a callback has the wrong calling convention";
    SetUnzipLibraryNameForTesting("unzip32");
  }

  test::ScopedDialogs dialogs_;
};

// The check that TearDown relies on sees a callback of the wrong convention:
// on 32-bit x86 it leaves its two 4-byte arguments on the stack.
TEST(UnzipBindingStateTest, StackCheckSeesTheWrongCallingConvention) {
  EXPECT_EQ(Fake().mismatch(), sizeof(void*) == 4 ? 8 : 0);
}

// ---------------------------------------------------------------------------
// Options object

TEST(UnzipBindingStateTest, FreshProcessHasEmptyRunState) {
  EXPECT_EQ(kInitialRunState.sLastMessage, "");
  EXPECT_EQ(kInitialRunState.sMessageLog, "");
  EXPECT_EQ(kInitialRunState.iPasswordCancelled, 0);
  EXPECT_EQ(kInitialLastMessage, "");
}

// The fifteen options: where the library finds each, which argument of
// VBUnzip (3..17) carries it, and for the flags their property and default.
struct Option {
  const char* name;
  std::size_t offset;
  int argument;
  bool (CGUnzipFiles::*get)() const noexcept = nullptr;
  void (CGUnzipFiles::*set)(bool) noexcept = nullptr;
  bool byDefault = false;
};

#define FLAG(name, offset, argument, byDefault) \
  { #name, offset, argument, &CGUnzipFiles::name, &CGUnzipFiles::Set##name, byDefault }
const Option kOptions[] = {
    FLAG(ExtractOnlyNewer, 0, 10, false),
    FLAG(SpaceToUnderScore, 4, 4, false),
    FLAG(PromptOverwrite, 8, 5, false),
    {"MessageLevel", 12, 6},
    FLAG(WriteToStdOut, 16, 7, false),
    FLAG(TestZip, 20, 8, false),
    {"ExtractList", 24, 9},
    FLAG(ExtractNewer, 28, 3, false),
    FLAG(DisplayComment, 32, 11, false),
    FLAG(HonorDirectories, 36, 12, true),
    FLAG(OverWriteFiles, 40, 13, true),
    FLAG(ConvertCRtoCRLF, 44, 14, false),
    FLAG(Verbose, 48, 15, false),
    FLAG(CaseSensitive, 52, 16, true),
    {"Privilege", 56, 17},
};
#undef FLAG

TEST_F(UnzipBindingTest, NewObjectHasTheDefaultsAndHandsThemOn) {
  CGUnzipFiles unzip;
  for (const auto& o : kOptions) {
    if (o.get != nullptr) {
      EXPECT_EQ((unzip.*o.get)(), o.byDefault) << o.name;
    }
  }
  EXPECT_EQ(unzip.MessageLevel(), 2);
  EXPECT_EQ(unzip.ExtractList(), 0);
  EXPECT_EQ(unzip.Privilege(), 0);
  EXPECT_EQ(unzip.ZipFileName(), "");
  EXPECT_EQ(unzip.ExtractDir(), "");

  ASSERT_EQ(unzip.Unzip("a.zip", "out"), 0);
  for (const auto& o : kOptions)
    EXPECT_EQ(OptionAt(o.offset), o.offset == 12 ? 2 : o.byDefault ? 1 : 0) << o.name;
}

// Each flag alone switched on reaches its own field as 1 and nowhere else;
// switched off again it reads false and reaches the library as 0.
TEST_F(UnzipBindingTest, EachFlagIsStoredAsOneAndReachesItsOwnField) {
  for (const auto& flag : kOptions) {
    if (flag.set == nullptr) continue;
    SCOPED_TRACE(flag.name);
    CGUnzipFiles unzip;
    for (const auto& other : kOptions) {
      if (other.set != nullptr) (unzip.*other.set)(false);
    }
    unzip.SetMessageLevel(0);
    (unzip.*flag.set)(true);
    EXPECT_TRUE((unzip.*flag.get)());
    ASSERT_EQ(unzip.Unzip("a.zip", "out"), 0);
    for (const auto& other : kOptions)
      EXPECT_EQ(OptionAt(other.offset), &other == &flag ? 1 : 0) << "field of " << other.name;
    (unzip.*flag.set)(false);
    EXPECT_FALSE((unzip.*flag.get)());
    ASSERT_EQ(unzip.Unzip("", ""), 0);
    EXPECT_EQ(OptionAt(flag.offset), 0);
  }
}

TEST_F(UnzipBindingTest, IntegerOptionsAreNarrowedWithTheirSign) {
  CGUnzipFiles unzip;
  unzip.SetMessageLevel(-5);
  unzip.SetExtractList(32767);
  unzip.SetPrivilege(-32768);
  ASSERT_EQ(unzip.Unzip("a.zip", "out"), 0);
  EXPECT_EQ(OptionAt(12), -5);
  EXPECT_EQ(OptionAt(24), 32767);
  EXPECT_EQ(OptionAt(56), -32768);
}

struct OverflowCase {
  const char* name;
  void (CGUnzipFiles::*set)(int32_t) noexcept;
  int32_t (CGUnzipFiles::*get)() const noexcept;
  int32_t value;
};

TEST_F(UnzipBindingTest, IntegerOptionOutOfRangeIsAnOverflowBeforeTheLibrary) {
  const OverflowCase cases[] = {
      {"MessageLevel 40000", &CGUnzipFiles::SetMessageLevel, &CGUnzipFiles::MessageLevel, 40000},
      {"MessageLevel -32769", &CGUnzipFiles::SetMessageLevel, &CGUnzipFiles::MessageLevel, -32769},
      {"ExtractList 32768", &CGUnzipFiles::SetExtractList, &CGUnzipFiles::ExtractList, 32768},
      {"Privilege -40000", &CGUnzipFiles::SetPrivilege, &CGUnzipFiles::Privilege, -40000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fake().reset();
    CGUnzipFiles unzip;
    (unzip.*c.set)(c.value);
    EXPECT_EQ((unzip.*c.get)(), c.value);
    ExpectError([&] { unzip.Unzip("b.zip", ""); }, 6, "CGUnZipFiles::Unzip", "Overflow");
    EXPECT_EQ(Record().sequence, 0) << "the library was called";
    // The archive path given to the failed call stays stored.
    EXPECT_EQ(unzip.ZipFileName(), "b.zip");
  }
}

TEST_F(UnzipBindingTest, PathsAreStoredAndNeverSetOnesReachTheLibraryAsNull) {
  CGUnzipFiles unzip;
  ASSERT_EQ(unzip.Unzip("", ""), 0);
  EXPECT_EQ(Record().zipFileNameIsNull, 1);
  EXPECT_EQ(Record().extractDirIsNull, 1);

  unzip.SetExtractDir("C:\\temp\\DownloadedFiles");
  ASSERT_EQ(unzip.Unzip("C:\\temp\\DownloadedZIP.zip", ""), 0);
  EXPECT_EQ(unzip.ZipFileName(), "C:\\temp\\DownloadedZIP.zip");
  EXPECT_EQ(std::string(Record().zipFileName), "C:\\temp\\DownloadedZIP.zip");
  EXPECT_EQ(std::string(Record().extractDir), "C:\\temp\\DownloadedFiles");

  // Empty arguments keep the stored paths; non-empty ones replace them.
  ASSERT_EQ(unzip.Unzip("", "D:\\x"), 0);
  EXPECT_EQ(std::string(Record().zipFileName), "C:\\temp\\DownloadedZIP.zip");
  EXPECT_EQ(std::string(Record().extractDir), "D:\\x");
  EXPECT_EQ(unzip.ExtractDir(), "D:\\x");

  // A path set to the empty text is set: an empty text, not a null one.
  unzip.SetZipFileName("");
  ASSERT_EQ(unzip.Unzip("", ""), 0);
  EXPECT_EQ(Record().zipFileNameIsNull, 0);
  EXPECT_EQ(std::string(Record().zipFileName), "");
}

// ---------------------------------------------------------------------------
// Driver

TEST_F(UnzipBindingTest, EveryArgumentArrivesAtItsFieldOffset) {
  // Argument n carries the value 100 + n, so each field names its argument.
  std::vector<int16_t> arguments;
  for (int n = 3; n <= 17; ++n) arguments.push_back(static_cast<int16_t>(100 + n));
  ASSERT_EQ(RunVBUnzip(arguments), 0);
  for (const auto& o : kOptions) EXPECT_EQ(OptionAt(o.offset), 100 + o.argument) << o.name;
  EXPECT_EQ(std::string(Record().zipFileName), "a.zip");
  EXPECT_EQ(std::string(Record().extractDir), "out");
}

TEST_F(UnzipBindingTest, MinusOneArrivesWithAllBitsSet) {
  ASSERT_EQ(RunVBUnzip(std::vector<int16_t>(15, -1)), 0);
  for (const auto& o : kOptions)
    EXPECT_EQ(FieldAt<uint32_t>(Record().options, o.offset), 0xFFFFFFFFu) << o.name;
}

TEST_F(UnzipBindingTest, RecordsAreBuiltAsTheLibraryExpectsThem) {
  ASSERT_EQ(RunVBUnzip(std::vector<int16_t>(15, 0), std::nullopt, ""), 0);
  const auto& record = Record();
  EXPECT_EQ(record.zipFileNameIsNull, 1);
  EXPECT_EQ(record.extractDirIsNull, 0);

  // The version is asked for first, then the extraction runs.
  EXPECT_EQ(record.versionSequence, 1);
  EXPECT_EQ(record.unzipSequence, 2);

  EXPECT_EQ(FieldAt<int32_t>(record.version, 0), 64);
  EXPECT_EQ(FieldAt<int32_t>(record.version, 4), 0);
  const auto* text = reinterpret_cast<const char*>(record.version);
  EXPECT_EQ(std::string(text + 8, 10), std::string(9, ' ') + '\0');
  EXPECT_EQ(std::string(text + 18, 20), std::string(19, ' ') + '\0');
  EXPECT_EQ(std::string(text + 38, 10), std::string(9, ' ') + '\0');
  for (std::size_t i = 48; i < sizeof(UnzipVersionInfo); ++i)
    EXPECT_EQ(record.version[i], 0) << "version byte " << i;

  UnzipUserFunctions functions;
  std::memcpy(&functions, record.functions, sizeof functions);
  EXPECT_EQ(functions.Print, &UnzipPrint);
  EXPECT_EQ(functions.Unused, nullptr);
  EXPECT_EQ(functions.Replace, &UnzipReplace);
  EXPECT_EQ(functions.Password, &UnzipPassword);
  EXPECT_EQ(functions.ListEntry, &UnzipListEntry);
  EXPECT_EQ(functions.Service, &UnzipService);
  for (const uint8_t byte : functions.Reserved) EXPECT_EQ(byte, 0);

  EXPECT_EQ(record.includeCount, 0);
  EXPECT_EQ(record.excludeCount, 0);
  EXPECT_EQ(record.includeListIsNull, 0);
  EXPECT_EQ(record.excludeListIsNull, 0);
  EXPECT_EQ(record.includeNonNullEntries, 0);
  EXPECT_EQ(record.excludeNonNullEntries, 0);
}

TEST_F(UnzipBindingTest, LibraryResultComesBackUnchanged) {
  for (const int32_t result : {0, 3, -1, 104, 0x7FFFFFFF}) {
    Fake().setResult(result);
    EXPECT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), result);
  }
}

TEST_F(UnzipBindingTest, MissingLibraryIsAnErrorWithItsNumberKept) {
  Script(FAKE_UNZIP32_PRINT, "old text", 8);
  ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
  ASSERT_EQ(CGUnzipFiles().GetLastMessage(), "old text");

  SetUnzipLibraryNameForTesting("unzip32_not_installed");
  ExpectError([] { CGUnzipFiles().Unzip("a.zip", "out"); }, err::kDllLoad, "CGUnZipFiles::Unzip");
  ExpectError([] { RunVBUnzip(std::vector<int16_t>(15, 0)); }, err::kDllLoad,
              "CodeModule::VBUnzip");
  // The run was reset before the library was looked for.
  EXPECT_EQ(CGUnzipFiles().GetLastMessage(), "");
}

TEST_F(UnzipBindingTest, MissingEntryPointIsAnError) {
  SetUnzipLibraryNameForTesting("unzip32fake_noversion");
  for (int attempt = 0; attempt < 2; ++attempt) {
    ExpectError([] { CGUnzipFiles().Unzip("a.zip", "out"); }, err::kDllEntryPoint,
                "CGUnZipFiles::Unzip");
  }
  // Going back to a complete library works again.
  SetUnzipLibraryNameForTesting(kFakeLibrary);
  EXPECT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
}

// ---------------------------------------------------------------------------
// Print callback

struct PrintCall {
  std::string bytes;  // the library's buffer, exactly this long
  int32_t length;
};

struct PrintCase {
  const char* name;
  std::vector<PrintCall> calls;
  std::string expected;
};

TEST_F(UnzipBindingTest, PrintCollectsTheTextOfTheRun) {
  const PrintCase cases[] = {
      {"text then lone LF", {{"Inflating a.txt", 15}, {"\n", 1}}, "Inflating a.txt\r\n"},
      {"leading LF drops the rest", {{"\nabc", 4}}, "\r\n"},
      {"LF inside stays", {{"a\nb\n", 4}}, "a\nb\n"},
      {"NUL stops", {{std::string("ab\0cd", 5), 5}}, "ab"},
      {"no NUL: read up to the length", {{"abcdef", 4}}, "abcd"},
      {"zero and negative lengths", {{"abc", 0}, {"abc", -7}}, ""},
      {"several texts", {{"one ", 4}, {"two", 3}, {"\n", 1}}, "one two\r\n"},
      {"bound 32800 without NUL", {{std::string(32801, 'x'), 50000}}, std::string(32801, 'x')},
      {"bound 32800 with longer text", {{std::string(40000, 'y'), 40000}}, std::string(32801, 'y')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fake().reset();
    for (const auto& call : c.calls) Script(FAKE_UNZIP32_PRINT, call.bytes, call.length);
    ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
    EXPECT_EQ(RunState().sMessageLog, c.expected);
    EXPECT_EQ(CGUnzipFiles().GetLastMessage(), c.expected);
    ASSERT_EQ(Record().callCount, static_cast<int32_t>(c.calls.size()));
    for (int32_t i = 0; i < Record().callCount; ++i) EXPECT_EQ(Record().calls[i].result, 0);
  }
}

TEST_F(UnzipBindingTest, LastMessageHoldsOnlyTheLatestRun) {
  Script(FAKE_UNZIP32_PRINT, "first run", 9);
  ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
  EXPECT_EQ(CGUnzipFiles().GetLastMessage(), "first run");

  Fake().reset();
  Script(FAKE_UNZIP32_PRINT, "second", 6);
  Script(FAKE_UNZIP32_PRINT, " run", 4);
  CGUnzipFiles other;
  ASSERT_EQ(other.Unzip("a.zip", "out"), 0);
  EXPECT_EQ(CGUnzipFiles().GetLastMessage(), "second run");

  // A run that prints nothing leaves nothing behind.
  Fake().reset();
  ASSERT_EQ(other.Unzip("a.zip", "out"), 0);
  EXPECT_EQ(other.GetLastMessage(), "");
}

// ---------------------------------------------------------------------------
// Password callback

// The answer goes into the library's buffer, zero-filled up to the size the
// library gave and never past it.
TEST_F(UnzipBindingTest, PasswordFillsItsBufferWithinBounds) {
  struct Case {
    const char* name;
    std::string answer;
    std::size_t bufferBytes;
    int32_t size;
    int32_t result;
    std::string expected;  // the whole buffer afterwards
  };
  const std::string fill(300, '\xAA');
  const Case cases[] = {
      {"six characters, size 81", "abc123", 81, 81, 0, "abc123" + std::string(75, '\0')},
      {"cut to the buffer", std::string(100, 'p'), 10, 10, 0, std::string(9, 'p') + '\0'},
      {"fits exactly", "secret", 7, 7, 0, std::string("secret") + '\0'},
      {"size below the buffer", "pw", 20, 8, 0,
       std::string("pw") + std::string(6, '\0') + fill.substr(0, 12)},
      {"index 256 at most", std::string(299, 'q'), 300, 300, 0,
       std::string(256, 'q') + '\0' + fill.substr(0, 43)},
      {"no room for a character", "pw", 1, 1, 1, fill.substr(0, 1)},
      {"size zero", "pw", 4, 0, 1, fill.substr(0, 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedDialogs dialogs;
    Fake().reset();
    dialogs->AnswerInput(c.answer);
    Script(FAKE_UNZIP32_PASSWORD, fill.substr(0, c.bufferBytes), c.size);
    ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
    ASSERT_EQ(Record().callCount, 1);
    EXPECT_EQ(Record().calls[0].result, c.result);
    EXPECT_EQ(Bytes(Record().calls[0], 0, c.bufferBytes), c.expected);
    EXPECT_EQ(RunState().iPasswordCancelled, 0);
    EXPECT_LE(dialogs->Boxes().size(), 1u);
    for (const auto& box : dialogs->Boxes()) {
      EXPECT_TRUE(box.input);
      EXPECT_EQ(box.text, "Please Enter The Password!");
      EXPECT_EQ(box.caption, kApplicationTitle);
      EXPECT_EQ(box.defaultText, "");
    }
  }
}

TEST_F(UnzipBindingTest, EmptyPasswordIsNotAskedAgainInTheSameRun) {
  dialogs_->AnswerInput("");
  Script(FAKE_UNZIP32_PASSWORD, std::string(16, 'z'), 16);
  Script(FAKE_UNZIP32_PASSWORD, std::string(16, 'z'), 16);
  ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
  ASSERT_EQ(Record().callCount, 2);
  EXPECT_EQ(Record().calls[0].result, 1);
  EXPECT_EQ(Record().calls[1].result, 1);
  EXPECT_EQ(Bytes(Record().calls[0], 0, 16), std::string(16, 'z'));
  EXPECT_EQ(dialogs_->Boxes().size(), 1u);
  EXPECT_EQ(RunState().iPasswordCancelled, 1);

  // The next run asks again.
  dialogs_->AnswerInput("again");
  ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
  EXPECT_EQ(Record().calls[0].result, 0);
  EXPECT_EQ(Bytes(Record().calls[0], 0, 6), std::string("again") + '\0');
  // Asked once more for the second request of this run: no answer left.
  EXPECT_EQ(dialogs_->Boxes().size(), 3u);
  EXPECT_EQ(Record().calls[1].result, 1);
}

// ---------------------------------------------------------------------------
// Replace callback

TEST_F(UnzipBindingTest, ReplaceAsksAndMapsTheAnswer) {
  struct Case {
    const char* name;
    std::string bytes;  // the library's buffer, exactly this long
    int32_t button;
    int32_t result;
    std::string text;
  };
  const Case cases[] = {
      {"No", std::string("stairs.package\0", 15), platform::kIdNo, 100,
       "Overwrite stairs.package?"},
      {"Cancel", std::string("stairs.package\0", 15), platform::kIdCancel, 104,
       "Overwrite stairs.package?"},
      {"Yes", std::string("stairs.package\0", 15), platform::kIdYes, 102,
       "Overwrite stairs.package?"},
      {"anything else", std::string("a\0b", 3), platform::kIdOk, 102, "Overwrite a?"},
      {"name read up to index 255, no NUL", std::string(256, 'n'), platform::kIdNo, 100,
       "Overwrite " + std::string(256, 'n') + "?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedDialogs dialogs;
    Fake().reset();
    dialogs->Answer(c.button);
    Script(FAKE_UNZIP32_REPLACE, c.bytes);
    ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
    ASSERT_EQ(Record().callCount, 1);
    EXPECT_EQ(Record().calls[0].result, c.result);
    ASSERT_EQ(dialogs->Boxes().size(), 1u);
    const auto& box = dialogs->Boxes()[0];
    EXPECT_FALSE(box.input);
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.caption, "VBUnZip32 - File Already Exists!");
    EXPECT_EQ(box.flags, 51);
  }
}

// A front end that cannot show anything.
class BrokenDialogs : public platform::DialogFrontEnd {
 public:
  int32_t MessageBox(const std::string&, int32_t, const std::string&) override {
    throw std::runtime_error("no display");
  }
  std::string InputBox(const std::string&, const std::string&, const std::string&) override {
    throw std::runtime_error("no display");
  }
};

TEST_F(UnzipBindingTest, CallbacksSurviveDialogsThatCannotBeShown) {
  platform::SetDialogFrontEnd(std::make_shared<BrokenDialogs>());
  Script(FAKE_UNZIP32_REPLACE, std::string("x.txt\0", 6));
  Script(FAKE_UNZIP32_PASSWORD, std::string(8, 'z'), 8);
  Script(FAKE_UNZIP32_PASSWORD, std::string(8, 'z'), 8);
  ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
  ASSERT_EQ(Record().callCount, 3);
  EXPECT_EQ(Record().calls[0].result, 102);
  EXPECT_EQ(Record().calls[1].result, 1);
  EXPECT_EQ(Record().calls[2].result, 1);
  EXPECT_EQ(RunState().iPasswordCancelled, 1);
}

TEST_F(UnzipBindingTest, ServiceAndListEntryAnswerWithoutDialogs) {
  Script(FAKE_UNZIP32_LIST_ENTRY, "");
  Script(FAKE_UNZIP32_SERVICE, "");
  ASSERT_EQ(CGUnzipFiles().Unzip("a.zip", "out"), 0);
  ASSERT_EQ(Record().callCount, 2);
  EXPECT_EQ(Record().calls[1].result, 0);
  EXPECT_TRUE(dialogs_->Boxes().empty());
  EXPECT_EQ(CGUnzipFiles().GetLastMessage(), "");
}

// ---------------------------------------------------------------------------
// The real library

TEST(UnzipBindingRealLibraryTest, ExtractsAnArchiveIntoTheFolder) {
  test::ScopedDialogs dialogs;
  test::TempDir temp;
  test::ZipWriter writer;
  writer.Add("Stairs/stairs.package", std::string(5000, 'P'));
  writer.Add("readme.txt", "line one\r\nline two\r\n", test::kStored);
  writer.Save(temp.Join("DownloadedZIP.zip"));
  temp.MakeFolder("DownloadedFiles");

  SetUnzipLibraryNameForTesting("unzip32");
  CGUnzipFiles unzip;
  unzip.SetZipFileName(temp.Join("DownloadedZIP.zip"));
  unzip.SetExtractDir(temp.Join("DownloadedFiles"));
  unzip.SetHonorDirectories(false);
  ASSERT_EQ(unzip.Unzip("", ""), 0) << unzip.GetLastMessage();

  // Without folders every file lands directly in the extraction folder.
  EXPECT_EQ(temp.Read("DownloadedFiles/stairs.package"), std::string(5000, 'P'));
  EXPECT_EQ(temp.Read("DownloadedFiles/readme.txt"), "line one\r\nline two\r\n");
  EXPECT_FALSE(temp.Exists("DownloadedFiles/Stairs"));
  EXPECT_TRUE(dialogs->Boxes().empty());

  // A missing archive is a result, not an error.
  EXPECT_NE(unzip.Unzip(temp.Join("missing.zip"), ""), 0);
}

TEST(UnzipBindingRealLibraryTest, AsksForThePasswordThroughTheInputBox) {
  test::ScopedDialogs dialogs;
  test::TempDir temp;
  test::ZipWriter writer;
  writer.Add("secret.package", "locked content").password = "stairs";
  writer.Save(temp.Join("locked.zip"));
  temp.MakeFolder("out");

  SetUnzipLibraryNameForTesting("unzip32");
  dialogs->AnswerInput("stairs");
  CGUnzipFiles unzip;
  ASSERT_EQ(unzip.Unzip(temp.Join("locked.zip"), temp.Join("out")), 0) << unzip.GetLastMessage();
  EXPECT_EQ(temp.Read("out/secret.package"), "locked content");
  ASSERT_EQ(dialogs->Boxes().size(), 1u);
  EXPECT_EQ(dialogs->Boxes()[0].text, "Please Enter The Password!");

  // Without an answer the entry is not extracted and the run says so.
  test::TempDir other;
  EXPECT_NE(unzip.Unzip("", other.Path()), 0);
  EXPECT_FALSE(other.Exists("secret.package"));
  EXPECT_EQ(RunState().iPasswordCancelled, 1);
}

}  // namespace
}  // namespace qv
