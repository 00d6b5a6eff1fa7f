#include "unzip/CodeModule.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "common/Error.h"
#include "platform/Dialogs.h"
#include "platform/DynamicLibrary.h"

namespace qv {

namespace {

constexpr const char kSource[] = "CodeModule::VBUnzip";

// Highest index a callback reads or writes in each buffer of the library.
constexpr int32_t kPrintLastIndex = 32800;
constexpr int32_t kReplaceNameLastIndex = 255;
constexpr int32_t kPasswordLastIndex = 256;

constexpr const char kPasswordPrompt[] = "Please Enter The Password!";
constexpr const char kReplaceTitle[] = "VBUnZip32 - File Already Exists!";

// The library answers of the replace callback.
constexpr int32_t kReplaceNo = UNZIP32_REPLACE_NO;
constexpr int32_t kReplaceYes = UNZIP32_REPLACE_YES;
constexpr int32_t kReplaceCancel = UNZIP32_REPLACE_CANCEL;

CodeModuleRunState& MutableRunState() noexcept {
  static CodeModuleRunState state;
  return state;
}

// The loaded library with its two entry points, typed from their declarations.
using UzpVersion2Function = decltype(&UzpVersion2);
using WizSingleEntryUnzipFunction = decltype(&Wiz_SingleEntryUnzip);

struct BoundLibrary {
  platform::DynamicLibrary library;
  UzpVersion2Function uzpVersion2;
  WizSingleEntryUnzipFunction wizSingleEntryUnzip;
};

struct LibraryBinding {
  std::string baseName = "unzip32";
  std::optional<BoundLibrary> bound;
};

LibraryBinding& Binding() {
  static LibraryBinding binding;
  return binding;
}

template <typename Function>
Function EntryPoint(const platform::DynamicLibrary& library, const char* name) {
  // Symbol raises error 453 when the entry point is missing.
  return reinterpret_cast<Function>(library.Symbol(name));
}

// Loads the library at the first run and keeps it; a library without both
// entry points is not kept, so a later run tries again.
const BoundLibrary& Library() {
  auto& binding = Binding();
  if (!binding.bound) {
    auto library = platform::DynamicLibrary::Load(binding.baseName);
    auto version = EntryPoint<UzpVersion2Function>(library, "UzpVersion2");
    auto unzip = EntryPoint<WizSingleEntryUnzipFunction>(library, "Wiz_SingleEntryUnzip");
    binding.bound.emplace(BoundLibrary{std::move(library), version, unzip});
  }
  return *binding.bound;
}

// Reads a library text from index 0 up to `lastIndex` at most, stopping
// before the first NUL. Never reads a byte past the bound, so a text without
// a NUL is safe as long as the library's buffer reaches the bound.
std::string ReadBounded(const char* text, int32_t lastIndex) {
  std::string result;
  if (text == nullptr || lastIndex < 0) return result;
  const auto limit = static_cast<std::size_t>(lastIndex) + 1;
  std::size_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  result.assign(text, length);
  return result;
}

// Fills a space-padded text field: spaces, then a NUL in its last byte.
template <std::size_t N>
void FillSpaces(char (&field)[N]) {
  std::memset(field, ' ', N - 1);
  field[N - 1] = '\0';
}

// The version record as the library expects to be handed it: its length
// set and its text fields space-padded.
UnzipVersionInfo VersionRequest() {
  UnzipVersionInfo version{};
  version.StructLength = static_cast<int32_t>(sizeof(UnzipVersionInfo));
  FillSpaces(version.BetaLevel);
  FillSpaces(version.Date);
  FillSpaces(version.ZlibVersion);
  return version;
}

// The library's record, field by field: its fields are 32-bit and in
// another order than the arguments, each option widened with its sign.
UnzipOptions LibraryOptions(const VBUnzipArguments& arguments) {
  UnzipOptions options{};
  options.ExtractOnlyNewer = arguments.iExtractOnlyNewer;
  options.SpaceToUnderScore = arguments.iSpaceToUnderScore;
  options.PromptOverwrite = arguments.iPromptOverwrite;
  options.MessageLevel = arguments.iMessageLevel;
  options.WriteToStdOut = arguments.iWriteToStdOut;
  options.TestZip = arguments.iTestZip;
  options.ExtractList = arguments.iExtractList;
  options.ExtractNewer = arguments.iExtractNewer;
  options.DisplayComment = arguments.iDisplayComment;
  options.HonorDirectories = arguments.iHonorDirectories;
  options.OverWriteFiles = arguments.iOverWriteFiles;
  options.ConvertCRtoCRLF = arguments.iConvertCRtoCRLF;
  options.Verbose = arguments.iVerbose;
  options.CaseSensitive = arguments.iCaseSensitive;
  options.Privilege = arguments.iPrivilege;
  options.ZipFileName = arguments.sZipFileName;
  options.ExtractDir = arguments.sExtractDir;
  return options;
}

// Slot 2 and the reserved bytes stay zero: the library never reads them.
UnzipUserFunctions Callbacks() {
  UnzipUserFunctions functions{};
  functions.Print = &UnzipPrint;
  functions.Replace = &UnzipReplace;
  functions.Password = &UnzipPassword;
  functions.ListEntry = &UnzipListEntry;
  functions.Service = &UnzipService;
  return functions;
}

}  // namespace

const CodeModuleRunState& RunState() noexcept {
  return MutableRunState();
}

void SetUnzipLibraryNameForTesting(const std::string& baseName) {
  auto& binding = Binding();
  binding.bound.reset();
  binding.baseName = baseName;
}

int32_t VBUnzip(const VBUnzipArguments& arguments) {
  // A run starts from an empty message log, and asks for a password again
  // even if the previous run's user gave none.
  auto& state = MutableRunState();
  state.sLastMessage.clear();
  state.sMessageLog.clear();
  state.iPasswordCancelled = 0;

  try {
    const auto& library = Library();
    // The version is asked for before each extraction, though nothing reads
    // the answer.
    UnzipVersionInfo version = VersionRequest();
    library.uzpVersion2(&version);
    const UnzipOptions options = LibraryOptions(arguments);
    const UnzipUserFunctions functions = Callbacks();
    // Empty name lists select every entry.
    const UnzipNameList include{};
    const UnzipNameList exclude{};
    return library.wizSingleEntryUnzip(0, &include, 0, &exclude, &options, &functions);
  } catch (...) {
    throw CaughtError(kSource);
  }
}

extern "C" {

int32_t UNZIP32_CALL UnzipPrint(const char* text, int32_t length) noexcept {
  try {
    auto& state = MutableRunState();
    // The length is a count, the bound an index: read at most both.
    const int32_t lastIndex = length <= 0 ? -1 : std::min(length - 1, kPrintLastIndex);
    std::string printed = ReadBounded(text, lastIndex);
    // The library marks a line end with a text that starts with LF; it
    // becomes CR LF alone, the rest of such a text is dropped.
    if (!printed.empty() && printed.front() == '\n') printed = "\r\n";
    state.sMessageLog += printed;
    state.sLastMessage = state.sMessageLog;
  } catch (...) {
    // Out of memory while appending: the text is lost, the extraction goes on.
  }
  return 0;
}

int32_t UNZIP32_CALL UnzipReplace(const char* name) noexcept {
  try {
    const std::string fileName = ReadBounded(name, kReplaceNameLastIndex);
    const int32_t answer = platform::ShowMessageBox(
        "Overwrite " + fileName + "?", platform::kMbYesNoCancel + platform::kMbIconExclamation,
        kReplaceTitle);
    if (answer == platform::kIdNo) return kReplaceNo;
    if (answer == platform::kIdCancel) return kReplaceCancel;
  } catch (...) {
    // No box could be shown: only No and Cancel lead away from overwriting.
  }
  return kReplaceYes;
}

int32_t UNZIP32_CALL UnzipPassword(char* buffer, int32_t size, const char* /*prompt*/,
                                   const char* /*name*/) noexcept {
  auto& state = MutableRunState();
  if (state.iPasswordCancelled == 1) return 1;

  std::string answer;
  try {
    answer = platform::InputBox(kPasswordPrompt, std::string(), std::string());
  } catch (...) {
    // No box could be shown: the same as no answer.
  }
  if (answer.empty()) {
    state.iPasswordCancelled = 1;
    return 1;
  }

  // The buffer is `size` bytes, and never more than indexes 0..256 are
  // written. A buffer without room for one character and its NUL cannot take
  // a password; saying 0 would send the library on with an empty one.
  if (buffer == nullptr || size < 2) return 1;
  const auto writable = static_cast<std::size_t>(std::min(size, kPasswordLastIndex + 1));
  std::memset(buffer, 0, writable);
  // A longer answer is cut to what fits before the NUL; the library then
  // reports the password as wrong instead of having its buffer overrun.
  const std::size_t count = std::min(answer.size(), writable - 1);
  // The buffer was zeroed above, so the byte after the answer is its NUL.
  std::memcpy(buffer, answer.data(), count);  // NOLINT(bugprone-not-null-terminated-result)
  return 0;
}

void UNZIP32_CALL UnzipListEntry(uint32_t /*size*/, uint32_t /*compressedSize*/, int32_t /*ratio*/,
                                 int32_t /*month*/, int32_t /*day*/, int32_t /*year*/,
                                 int32_t /*hour*/, int32_t /*minute*/, int32_t /*index*/,
                                 const char* /*name*/, const char* /*method*/, uint32_t /*crc*/,
                                 int32_t /*encrypted*/) noexcept {}

int32_t UNZIP32_CALL UnzipService(const char* /*text*/, int32_t /*number*/) noexcept {
  return 0;
}

}  // extern "C"

}  // namespace qv
