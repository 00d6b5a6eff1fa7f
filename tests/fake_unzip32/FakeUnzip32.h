// Control interface of a stand-in for the unzip32 library. The binding's
// tests load it instead of the real library: it records the records it is
// handed and calls the binding's callbacks as a test scripts it, with
// buffers of exactly the scripted size so that the sanitizers catch a
// callback that reads or writes past them.
#pragma once

#include <stdint.h>

#include "unzip32.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Which callback a scripted call goes to: the slot numbers. */
enum {
  FAKE_UNZIP32_PRINT = 1,
  FAKE_UNZIP32_REPLACE = 3,
  FAKE_UNZIP32_PASSWORD = 4,
  FAKE_UNZIP32_LIST_ENTRY = 5,
  FAKE_UNZIP32_SERVICE = 6
};

enum { FAKE_UNZIP32_MAX_CALLS = 16, FAKE_UNZIP32_MAX_BUFFER = 512, FAKE_UNZIP32_MAX_PATH = 512 };

typedef struct FakeUnzip32Call {
  int32_t slot;
  int32_t result;     /* what the callback returned (0 for the list entry) */
  int32_t bufferSize; /* bytes of the buffer handed over */
  /* The buffer after the call (the first FAKE_UNZIP32_MAX_BUFFER bytes). */
  uint8_t buffer[FAKE_UNZIP32_MAX_BUFFER];
} FakeUnzip32Call;

typedef struct FakeUnzip32Record {
  int32_t sequence;        /* calls into the library so far */
  int32_t versionSequence; /* value of `sequence` at the latest UzpVersion2, 0 if none */
  int32_t unzipSequence;   /* likewise for Wiz_SingleEntryUnzip */
  /* UnzipVersionInfo as the caller prepared it, before the library filled it. */
  uint8_t version[sizeof(UnzipVersionInfo)];
  /* The raw records of the latest Wiz_SingleEntryUnzip. */
  uint8_t options[sizeof(UnzipOptions)];
  uint8_t functions[sizeof(UnzipUserFunctions)];
  int32_t zipFileNameIsNull;
  int32_t extractDirIsNull;
  char zipFileName[FAKE_UNZIP32_MAX_PATH];
  char extractDir[FAKE_UNZIP32_MAX_PATH];
  int32_t includeCount;
  int32_t excludeCount;
  int32_t includeListIsNull;
  int32_t excludeListIsNull;
  int32_t includeNonNullEntries; /* entries of the list that are not null */
  int32_t excludeNonNullEntries;
  int32_t callCount;
  FakeUnzip32Call calls[FAKE_UNZIP32_MAX_CALLS];
  /* Bytes that the callbacks left on the stack or took from it, over all
   * calls since the library was loaded (a reset keeps it): 0 when every
   * callback has the library's calling convention. */
  int32_t stackImbalance;
} FakeUnzip32Record;

/* Forgets the record (but its stack imbalance) and the script; the next
 * result is 0. */
typedef void (*FakeUnzip32ResetFunction)(void);
/* The result of the next Wiz_SingleEntryUnzip calls. */
typedef void (*FakeUnzip32SetResultFunction)(int32_t result);
/* Queues one callback call for every later Wiz_SingleEntryUnzip:
 *   print:    a buffer of `byteCount` bytes copied from `bytes`, called with
 *             the length `argument`;
 *   replace:  a buffer of `byteCount` bytes copied from `bytes`;
 *   password: a buffer of `byteCount` bytes copied from `bytes`, called with
 *             the size `argument`;
 *   list entry and service: fixed values. */
typedef void (*FakeUnzip32AddCallFunction)(int32_t slot, const char* bytes, int32_t byteCount,
                                           int32_t argument);
typedef const FakeUnzip32Record* (*FakeUnzip32RecordFunction)(void);
/* Calls a print callback built with the caller-pops convention through the
 * library's callback type, the way a binding with the wrong convention would
 * be called, and returns the imbalance the check saw: the size of the two
 * arguments on 32-bit x86, 0 where there is only one convention. */
typedef int32_t (*FakeUnzip32MismatchFunction)(void);

#ifdef __cplusplus
}
#endif
