// A stand-in unzip32 library for the binding's tests; see FakeUnzip32.h.
#include "FakeUnzip32.h"

#include "support/StackCheck.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ScriptedCall {
  int32_t slot;
  std::string bytes;
  int32_t argument;
};

FakeUnzip32Record& Record() {
  static FakeUnzip32Record record{};
  return record;
}

std::vector<ScriptedCall>& Script() {
  static std::vector<ScriptedCall> script;
  return script;
}

int32_t& Result() {
  static int32_t result = 0;
  return result;
}

void CopyText(char (&target)[FAKE_UNZIP32_MAX_PATH], const char* text, int32_t& isNull) {
  std::memset(target, 0, sizeof target);
  isNull = text == nullptr ? 1 : 0;
  if (text != nullptr) std::strncpy(target, text, sizeof target - 1);
}

void CountList(const UnzipNameList* list, int32_t& isNull, int32_t& nonNull) {
  isNull = list == nullptr ? 1 : 0;
  nonNull = 0;
  if (list == nullptr) return;
  for (const char* name : list->Names) {
    if (name != nullptr) ++nonNull;
  }
}

// Runs one scripted call with a heap buffer of exactly the scripted size.
void Run(const ScriptedCall& call, const UnzipUserFunctions& functions) {
  auto& record = Record();
  if (record.callCount >= FAKE_UNZIP32_MAX_CALLS) return;
  FakeUnzip32Call& entry = record.calls[record.callCount++];
  entry.slot = call.slot;
  entry.bufferSize = static_cast<int32_t>(call.bytes.size());
  const auto buffer = std::make_unique<char[]>(std::max<std::size_t>(call.bytes.size(), 1));
  std::memcpy(buffer.get(), call.bytes.data(), call.bytes.size());

  // Every callback is called through the check, so a binding whose
  // callbacks have the wrong calling convention shows in the record.
  qv::test::StackCheck check;
  switch (call.slot) {
    case FAKE_UNZIP32_PRINT:
      if (functions.Print) entry.result = check.Call(functions.Print, buffer.get(), call.argument);
      break;
    case FAKE_UNZIP32_REPLACE:
      if (functions.Replace) entry.result = check.Call(functions.Replace, buffer.get());
      break;
    case FAKE_UNZIP32_PASSWORD:
      if (functions.Password) {
        entry.result =
            check.Call(functions.Password, buffer.get(), call.argument, "Password: ", "secret.txt");
      }
      break;
    case FAKE_UNZIP32_LIST_ENTRY:
      if (functions.ListEntry) {
        check.Call(functions.ListEntry, 1234u, 567u, 540, 7, 14, 2004, 12, 30, 0, "stairs.package",
                   "Deflated", 0xCAFEF00Du, 0);
      }
      entry.result = 0;
      break;
    case FAKE_UNZIP32_SERVICE:
      if (functions.Service) entry.result = check.Call(functions.Service, "stairs.package", 1234);
      break;
    default:
      entry.result = -1;
      break;
  }
  record.stackImbalance += static_cast<int32_t>(check.imbalance);
  std::memcpy(entry.buffer, buffer.get(),
              std::min<std::size_t>(call.bytes.size(), FAKE_UNZIP32_MAX_BUFFER));
}

}  // namespace

extern "C" {

#ifndef FAKE_UNZIP32_WITHOUT_VERSION
int32_t UNZIP32_CALL UzpVersion2(UnzipVersionInfo* info) {
  auto& record = Record();
  record.versionSequence = ++record.sequence;
  if (info == nullptr) return UNZIP32_ERR_PARAMETER;
  std::memcpy(record.version, info, sizeof record.version);
  // Fill the record the way a library would, so the caller's buffer is
  // shown to be writable in full.
  std::memset(info->BetaLevel, 0, sizeof info->BetaLevel);
  std::strncpy(info->Date, "2004-07-14", sizeof info->Date - 1);
  std::strncpy(info->ZlibVersion, "fake", sizeof info->ZlibVersion - 1);
  info->Version[0] = 9;
  return 0;
}
#endif

int32_t UNZIP32_CALL Wiz_SingleEntryUnzip(int32_t includeCount, const UnzipNameList* include,
                                          int32_t excludeCount, const UnzipNameList* exclude,
                                          const UnzipOptions* options,
                                          const UnzipUserFunctions* callbacks) {
  auto& record = Record();
  record.unzipSequence = ++record.sequence;
  record.includeCount = includeCount;
  record.excludeCount = excludeCount;
  CountList(include, record.includeListIsNull, record.includeNonNullEntries);
  CountList(exclude, record.excludeListIsNull, record.excludeNonNullEntries);
  if (options == nullptr || callbacks == nullptr) return UNZIP32_ERR_PARAMETER;
  std::memcpy(record.options, options, sizeof record.options);
  std::memcpy(record.functions, callbacks, sizeof record.functions);
  CopyText(record.zipFileName, options->ZipFileName, record.zipFileNameIsNull);
  CopyText(record.extractDir, options->ExtractDir, record.extractDirIsNull);
  record.callCount = 0;
  for (const auto& call : Script()) Run(call, *callbacks);
  return Result();
}

void FakeUnzip32_Reset(void) {
  const int32_t imbalance = Record().stackImbalance;
  Record() = FakeUnzip32Record{};
  Record().stackImbalance = imbalance;
  Script().clear();
  Result() = 0;
}

void FakeUnzip32_SetResult(int32_t result) {
  Result() = result;
}

void FakeUnzip32_AddCall(int32_t slot, const char* bytes, int32_t byteCount, int32_t argument) {
  ScriptedCall call{slot, std::string(), argument};
  if (bytes != nullptr && byteCount > 0)
    call.bytes.assign(bytes, static_cast<std::size_t>(byteCount));
  Script().push_back(std::move(call));
}

const FakeUnzip32Record* FakeUnzip32_Record(void) {
  return &Record();
}

// The caller pops the arguments of this one (the default convention of C).
static int32_t CallerPopsPrint(const char* /*text*/, int32_t /*length*/) {
  return 0;
}

int32_t FakeUnzip32_MismatchedConvention(void) {
  // Through a volatile pointer, so the call cannot be turned into a direct
  // one that would use the function's own convention.
  const auto print = reinterpret_cast<UnzipPrintCallback>(&CallerPopsPrint);
  UnzipPrintCallback volatile pointer = print;
  qv::test::StackCheck check;
  check.Call(pointer, "text", 4);
  return static_cast<int32_t>(check.imbalance);
}

}  // extern "C"
