/*
 * unzip32: a zip extraction library with a C ABI.
 *
 * The records below are exchanged by address with the caller. On 32-bit
 * targets their sizes and offsets are fixed (UnzipOptions 68 bytes with the
 * two paths at 60 and 64, UnzipUserFunctions 44, UnzipVersionInfo 64,
 * UnzipNameList 400); on 64-bit targets the members keep their order with
 * natural alignment. On 32-bit Windows the entry points and all callbacks use
 * the stdcall convention and the DLL exports undecorated names.
 *
 * Texts are NUL-terminated 8-bit strings in the system's ANSI code page.
 */
#ifndef UNZIP32_H
#define UNZIP32_H

#include <stdint.h>

#if defined(_WIN32)
#define UNZIP32_CALL __stdcall
#if defined(UNZIP32_BUILDING)
#define UNZIP32_EXPORT
#else
#define UNZIP32_EXPORT __declspec(dllimport)
#endif
#else
#define UNZIP32_CALL
#define UNZIP32_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of Wiz_SingleEntryUnzip. When several entries fail, the code
 * of the first failure is returned; the extraction goes on with the next
 * entry unless the failure concerns the whole archive. */
enum {
  UNZIP32_OK = 0,               /* every selected entry was handled */
  UNZIP32_ERR_PARAMETER = 1,    /* null records, bad counts or an empty path */
  UNZIP32_ERR_OPEN = 2,         /* archive missing or unreadable */
  UNZIP32_ERR_FORMAT = 3,       /* not a zip archive, or damaged */
  UNZIP32_ERR_CRC = 4,          /* an entry's CRC-32 or size does not match */
  UNZIP32_ERR_PASSWORD = 5,     /* wrong or missing password */
  UNZIP32_ERR_UNSUPPORTED = 6,  /* compression method or encryption not supported */
  UNZIP32_ERR_UNSAFE_NAME = 7,  /* an entry name would leave the extraction folder */
  UNZIP32_ERR_WRITE = 8,        /* a file or folder could not be written */
  UNZIP32_ERR_CANCELLED = 9,    /* the replace callback answered cancel */
  UNZIP32_ERR_NO_MATCH = 10,    /* the name lists selected no entry */
  UNZIP32_ERR_MEMORY = 11       /* out of memory */
};

/* Answers of the replace callback. */
enum { UNZIP32_REPLACE_NO = 100, UNZIP32_REPLACE_YES = 102, UNZIP32_REPLACE_CANCEL = 104 };

/* The options of one extraction. Every option is a 32-bit signed value; flags
 * are 1 (on) or 0 (off); any non-zero value counts as on. */
typedef struct UnzipOptions {
  int32_t ExtractOnlyNewer;  /*  0: only refresh existing files that are older than the entry */
  int32_t SpaceToUnderScore; /*  4: write spaces in names as underscores */
  int32_t PromptOverwrite;   /*  8: with OverWriteFiles 0, ask the replace callback */
  int32_t MessageLevel;      /* 12: 0 print nothing, 1 only problems, 2 also one line per entry */
  int32_t WriteToStdOut;     /* 16: send entry contents through the print callback, no files */
  int32_t TestZip;           /* 20: check every entry, write nothing */
  int32_t ExtractList;       /* 24: 1 list entries through the list-entry callback, write nothing */
  int32_t ExtractNewer;      /* 28: extract entries that are new or newer than the existing file */
  int32_t DisplayComment;    /* 32: print the archive comment */
  int32_t HonorDirectories;  /* 36: 1 recreate stored folders, 0 write every file into ExtractDir */
  int32_t OverWriteFiles;    /* 40: replace existing files without asking */
  int32_t ConvertCRtoCRLF;   /* 44: give text entries CR LF line ends */
  int32_t Verbose;           /* 48: print more detail */
  int32_t CaseSensitive;     /* 52: match the name lists with regard to case */
  int32_t Privilege;         /* 56: 1 or 2 restore stored permission bits where the system has them */
  const char* ZipFileName;   /* 60: the archive */
  const char* ExtractDir;    /* 64: the folder to extract into */
} UnzipOptions;

/* Callbacks. The library calls them one at a time, on the calling thread,
 * only while Wiz_SingleEntryUnzip runs, and only through non-null slots. */

/* Text the library prints; `length` bytes (the text may hold a NUL earlier).
 * Returns 0. */
typedef int32_t(UNZIP32_CALL* UnzipPrintCallback)(const char* text, int32_t length);

/* `name` is the file about to be overwritten. Returns UNZIP32_REPLACE_*. */
typedef int32_t(UNZIP32_CALL* UnzipReplaceCallback)(const char* name);

/* Fills `buffer` (`size` bytes, NUL-terminated) with a password for `name`.
 * Returns 0 when it did, 1 to skip the entry. */
typedef int32_t(UNZIP32_CALL* UnzipPasswordCallback)(char* buffer, int32_t size, const char* prompt,
                                                     const char* name);

/* One entry of a listing (ExtractList 1):
 *   1 uncompressed size (0xFFFFFFFF when it does not fit in 32 bits)
 *   2 compressed size (likewise)
 *   3 compression ratio in tenths of a percent (0..1000; 0 for empty entries)
 *   4 month (1-12), 5 day (1-31), 6 year (four digits), 7 hour, 8 minute
 *   9 the entry's index in the central directory, from 0
 *  10 the entry's name as stored
 *  11 the compression method's name ("Stored", "Deflated", ...)
 *  12 the CRC-32 stored for the entry
 *  13 1 when the entry is encrypted, else 0 */
typedef void(UNZIP32_CALL* UnzipListEntryCallback)(uint32_t size, uint32_t compressedSize,
                                                   int32_t ratio, int32_t month, int32_t day,
                                                   int32_t year, int32_t hour, int32_t minute,
                                                   int32_t index, const char* name,
                                                   const char* method, uint32_t crc,
                                                   int32_t encrypted);

/* Service messages: `text` names the entry being extracted and `number` its
 * uncompressed size (low 32 bits). Returns 0 to go on, non-zero to cancel. */
typedef int32_t(UNZIP32_CALL* UnzipServiceCallback)(const char* text, int32_t number);

typedef struct UnzipUserFunctions {
  UnzipPrintCallback Print;         /* slot 1 */
  void* Unused;                     /* slot 2: always null */
  UnzipReplaceCallback Replace;     /* slot 3 */
  UnzipPasswordCallback Password;   /* slot 4 */
  UnzipListEntryCallback ListEntry; /* slot 5 */
  UnzipServiceCallback Service;     /* slot 6 */
  uint8_t Reserved[20];             /* zero, never read */
} UnzipUserFunctions;

/* Filled by UzpVersion2. The caller sets StructLength to 64. */
typedef struct UnzipVersionInfo {
  int32_t StructLength;    /*  0 */
  int32_t Flags;           /*  4: bit 0 beta release, bit 1 zlib inflate in use */
  char BetaLevel[10];      /*  8: "" for a release */
  char Date[20];           /* 18: release date, "YYYY-MM-DD" */
  char ZlibVersion[10];    /* 38: version of zlib */
  uint8_t Version[4];      /* 48: the library: major, minor, patch, 0 */
  uint8_t ZipVersion[4];   /* 52: highest zip format version read: major, minor, 0, 0 */
  int32_t Reserved;        /* 56: 0 */
  uint8_t ApiVersion[4];   /* 60: this interface: major, minor, patch, 0 */
} UnzipVersionInfo;

typedef struct UnzipNameList {
  const char* Names[100];  /* wildcard patterns; "*" any run, "?" one character */
} UnzipNameList;

/* Fills `info` when info->StructLength is at least 64. Returns 0, or
 * UNZIP32_ERR_PARAMETER. */
UNZIP32_EXPORT int32_t UNZIP32_CALL UzpVersion2(UnzipVersionInfo* info);

/* Extracts the archive options->ZipFileName into options->ExtractDir.
 * `includeCount` patterns of `include` select entries (0: every entry);
 * `excludeCount` patterns of `exclude` leave entries out. */
UNZIP32_EXPORT int32_t UNZIP32_CALL Wiz_SingleEntryUnzip(int32_t includeCount,
                                                         const UnzipNameList* include,
                                                         int32_t excludeCount,
                                                         const UnzipNameList* exclude,
                                                         const UnzipOptions* options,
                                                         const UnzipUserFunctions* callbacks);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
#ifdef __cplusplus
#define UNZIP32_STATIC_ASSERT static_assert
#else
#define UNZIP32_STATIC_ASSERT _Static_assert
#endif
#include <stddef.h>
UNZIP32_STATIC_ASSERT(sizeof(UnzipVersionInfo) == 64, "UnzipVersionInfo is 64 bytes");
UNZIP32_STATIC_ASSERT(offsetof(UnzipVersionInfo, Date) == 18, "Date at 18");
UNZIP32_STATIC_ASSERT(offsetof(UnzipVersionInfo, ZlibVersion) == 38, "ZlibVersion at 38");
UNZIP32_STATIC_ASSERT(offsetof(UnzipVersionInfo, Reserved) == 56, "Reserved at 56");
UNZIP32_STATIC_ASSERT(offsetof(UnzipOptions, Privilege) == 56, "Privilege at 56");
UNZIP32_STATIC_ASSERT(offsetof(UnzipOptions, ZipFileName) == 60 || sizeof(void*) != 4,
                      "archive path at 60");
UNZIP32_STATIC_ASSERT(sizeof(UnzipOptions) == 68 || sizeof(void*) != 4, "UnzipOptions is 68 bytes");
UNZIP32_STATIC_ASSERT(sizeof(UnzipUserFunctions) == 44 || sizeof(void*) != 4,
                      "UnzipUserFunctions is 44 bytes");
UNZIP32_STATIC_ASSERT(sizeof(UnzipNameList) == 400 || sizeof(void*) != 4,
                      "UnzipNameList is 400 bytes");
#endif

#endif /* UNZIP32_H */
