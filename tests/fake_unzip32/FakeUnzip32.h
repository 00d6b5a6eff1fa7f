// A stand-in for the unzip32 library. The binding's tests load it instead of
// the real library: it records the options it is handed, and calls the
// binding's callbacks as the library would, through the stack check, with the
// test's buffers (exactly as large as the test says, so that the sanitizers
// catch a callback that reads or writes past them). The tests reach these
// control functions through the loaded library, by name.
#pragma once

#include <cstdint>

#include "unzip32.h"

// Which callback a call goes to: the slot numbers.
enum { kFakePrint = 1, kFakeReplace = 3, kFakePassword = 4, kFakeListEntry = 5, kFakeService = 6 };

struct FakeUnzip32Record {
  // What the latest UzpVersion2 and Wiz_SingleEntryUnzip were handed.
  UnzipVersionInfo version;
  UnzipOptions options;
  int32_t includeCount;
  int32_t excludeCount;
  int32_t namesGiven;  // entries of the two name lists that are not null
  // Bytes that the callbacks left on the stack or took from it, over all
  // calls since the library was loaded (a reset keeps it): 0 when every
  // callback has the library's calling convention.
  int32_t stackImbalance;
};

extern "C" {
// Forgets the record but its stack imbalance.
void FakeUnzip32_Reset();
const FakeUnzip32Record* FakeUnzip32_Record();
// Calls a callback of the latest Wiz_SingleEntryUnzip and gives its answer:
// print with `buffer` and the length `argument`, replace with `buffer`,
// password with `buffer`, the size `argument`, a prompt and a name; list
// entry and service with fixed values.
int32_t FakeUnzip32_Call(int32_t slot, char* buffer, int32_t argument);
// Calls a print callback built with the caller-pops convention through the
// library's callback type, the way a binding with the wrong convention would
// be called, and returns the imbalance the check saw: the size of the two
// arguments on 32-bit x86, 0 where there is only one convention.
int32_t FakeUnzip32_MismatchedConvention();
}
