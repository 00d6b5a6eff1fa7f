// A stand-in unzip32 library for the binding's tests; see FakeUnzip32.h.
#include "FakeUnzip32.h"

#include <cstring>
#include <initializer_list>

#include "support/StackCheck.h"

namespace {

FakeUnzip32Record record{};
UnzipUserFunctions functions{};

// The caller pops the arguments of this one (the default convention of C).
int32_t CallerPopsPrint(const char* /*text*/, int32_t /*length*/) {
  return 0;
}

}  // namespace

extern "C" {

#ifndef FAKE_UNZIP32_WITHOUT_VERSION
int32_t UNZIP32_CALL UzpVersion2(UnzipVersionInfo* info) {
  record.version = *info;
  std::memset(info, 'v', sizeof *info);  // the library may fill all of it
  return 0;
}
#endif

int32_t UNZIP32_CALL Wiz_SingleEntryUnzip(int32_t includeCount, const UnzipNameList* include,
                                          int32_t excludeCount, const UnzipNameList* exclude,
                                          const UnzipOptions* options,
                                          const UnzipUserFunctions* callbacks) {
  record.options = *options;
  record.includeCount = includeCount;
  record.excludeCount = excludeCount;
  record.namesGiven = 0;
  for (const UnzipNameList* list : {include, exclude}) {
    for (const char* name : list->Names) record.namesGiven += name != nullptr ? 1 : 0;
  }
  functions = *callbacks;
  return 0;
}

void FakeUnzip32_Reset() {
  record = {{}, {}, 0, 0, 0, record.stackImbalance};
}

const FakeUnzip32Record* FakeUnzip32_Record() {
  return &record;
}

int32_t FakeUnzip32_Call(int32_t slot, char* buffer, int32_t argument) {
  // Every callback is called through the check, so a binding whose
  // callbacks have the wrong calling convention shows in the record.
  qv::test::StackCheck check;
  const UnzipUserFunctions& f = functions;
  int32_t answer = 0;
  if (slot == kFakePrint) answer = check.Call(f.Print, buffer, argument);
  if (slot == kFakeReplace) answer = check.Call(f.Replace, buffer);
  if (slot == kFakePassword) answer = check.Call(f.Password, buffer, argument, "Pass: ", "a.txt");
  if (slot == kFakeService) answer = check.Call(f.Service, "stairs.package", 1234);
  if (slot == kFakeListEntry) {
    check.Call(f.ListEntry, 1234u, 567u, 540, 7, 14, 2004, 12, 30, 0, "stairs.package", "Deflated",
               0xCAFEF00Du, 0);
  }
  record.stackImbalance += static_cast<int32_t>(check.imbalance);
  return answer;
}

int32_t FakeUnzip32_MismatchedConvention() {
  // Through a volatile pointer, so the call cannot be turned into a direct
  // one that would use the function's own convention.
  UnzipPrintCallback volatile pointer = reinterpret_cast<UnzipPrintCallback>(&CallerPopsPrint);
  qv::test::StackCheck check;
  check.Call(pointer, "text", 4);
  return static_cast<int32_t>(check.imbalance);
}

}  // extern "C"
