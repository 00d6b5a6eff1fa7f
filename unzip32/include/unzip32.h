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
 * entry unless the failure concerns the whole archive. Every failure is also
 * printed (MessageLevel 1 or 2).
 *
 * The whole archive is checked before anything is written: a damaged end
 * record or central directory, a local header that disagrees with its central
 * header (name, method, encryption flags, and CRC and sizes unless the local
 * header leaves them to a data descriptor; the other flag bits may differ),
 * entries whose data or data descriptors overlap each other or the central
 * directory: FORMAT, and no file is written.
 *
 * Bytes before the archive (a self-extractor's stub) are skipped. When the
 * archive's offsets leave them out (a stub put in front of a finished
 * archive), the central directory is not where the end record says but
 * exactly the stub's length behind it: that shift is then added to every
 * offset, and the shifted entries are held to the same checks. The shift is
 * taken only when no central directory is at the stated place.
 *
 * A data descriptor follows an entry's data when its local header says so;
 * its CRC and sizes must match the central header's, else the entry fails
 * with CRC. A deflate stream ends the entry's data: bytes after its end within
 * the compressed size are ignored (the entry is delivered when its size and
 * CRC match). */
enum {
  UNZIP32_OK = 0,              /* every selected entry was handled */
  UNZIP32_ERR_PARAMETER = 1,   /* null records, bad counts or an empty path */
  UNZIP32_ERR_OPEN = 2,        /* archive missing or unreadable */
  UNZIP32_ERR_FORMAT = 3,      /* not a zip archive, or damaged; also an entry whose declared
                                  size is impossible (stored sizes differ, or more than 1032
                                  times the compressed size: deflate gives at most 258 bytes
                                  for every two bits) */
  UNZIP32_ERR_CRC = 4,         /* an entry's CRC-32 or size does not match, its data
                                  descriptor disagrees with the central header, or its deflate
                                  data are bad (also a wrong password that passed the
                                  one-byte check) */
  UNZIP32_ERR_PASSWORD = 5,    /* wrong or missing password: the entry was skipped */
  UNZIP32_ERR_UNSUPPORTED = 6, /* compression method (anything but stored and deflated:
                                  the entry is skipped, the others extracted), AES or strong
                                  encryption, or a multi-part archive */
  UNZIP32_ERR_UNSAFE_NAME = 7, /* an entry name was refused (see below), or a second entry
                                  maps onto a file that an earlier entry of the same run
                                  claimed (duplicate names, see below) */
  UNZIP32_ERR_WRITE = 8,       /* a file or folder could not be written, an existing folder
                                  on the way is a symbolic link, or a folder or device stands
                                  where the file should go, or a file where a folder should
                                  go (also one that an earlier entry wrote: "a/b", then
                                  "a/b/c"); only that entry fails */
  UNZIP32_ERR_CANCELLED = 9,   /* the replace callback answered cancel, or the service
                                  callback asked to stop */
  UNZIP32_ERR_NO_MATCH = 10,   /* the name lists selected no entry */
  UNZIP32_ERR_MEMORY = 11      /* out of memory */
};

/* Answers of the replace callback. */
enum { UNZIP32_REPLACE_NO = 100, UNZIP32_REPLACE_YES = 102, UNZIP32_REPLACE_CANCEL = 104 };

/* The options of one extraction. Every option is a 32-bit signed value; flags
 * are 1 (on) or 0 (off); any non-zero value counts as on.
 *
 * Entry names. "/" and "\" both separate folders. With HonorDirectories 1 a
 * name is refused (UNZIP32_ERR_UNSAFE_NAME, the entry skipped) when it is
 * empty, holds a NUL or control character, is absolute ("/x", "\x",
 * "\\server\x"), holds a ':' ("C:x", stream names), a ".." component, a
 * component made only of dots and spaces or ending in a dot or a space, one of
 * < > " | ? *, or a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
 * with any extension). With HonorDirectories 0 only the last component is
 * kept and checked the same way; folder entries are skipped. Either way an
 * entry below a folder "__MACOSX" (at any depth, the folder entry itself
 * included) is skipped silently: macOS's AppleDouble files "._<name>", no
 * files of the archive's author. The rules are the same on every platform.
 *
 * Duplicate names. The first entry that maps onto an output path claims it;
 * a later entry of the same run that maps onto the same path, compared
 * without regard to ASCII letter case (one file on Windows), is refused with
 * UNZIP32_ERR_UNSAFE_NAME and the first file stays. With HonorDirectories 0
 * this includes "a/x.txt" and "b/x.txt".
 *
 * Every file is written under a temporary name in its target folder and
 * renamed over the target when complete, so a failed entry leaves neither a
 * partial file nor a damaged earlier one. Folders below ExtractDir are opened
 * without following symbolic links; an existing symbolic link at a file's own
 * place is replaced (never written through). Symbolic-link entries are
 * written as regular files holding the link text. Each file gets the entry's
 * date and time. */
typedef struct UnzipOptions {
  int32_t ExtractOnlyNewer;  /*  0: only refresh existing files that are older than the entry
                                   (the entry's DOS time against the file's modification time);
                                   creates no new file. Wins over ExtractNewer */
  int32_t SpaceToUnderScore; /*  4: write spaces in names as underscores */
  int32_t PromptOverwrite;   /*  8: with OverWriteFiles 0, ask the replace callback before
                                   replacing a file (102 replace, 100 skip, 104 cancel the
                                   whole run; any other answer skips; no callback skips) */
  int32_t MessageLevel;      /* 12: 0 print no messages, 1 only problems, 2 also one line per
                                   entry. The comment (DisplayComment) and the contents
                                   (WriteToStdOut) are output, printed at every level */
  int32_t WriteToStdOut;     /* 16: send entry contents through the print callback (pieces of
                                   at most 32768 bytes), no files */
  int32_t TestZip;           /* 20: decode and check every entry, write nothing */
  int32_t ExtractList;       /* 24: 1 one list-entry call per selected entry, write nothing,
                                   read no entry data (no password asked) */
  int32_t ExtractNewer;      /* 28: extract entries that are new, or newer than the existing
                                   file. In both newer modes an older file is replaced without
                                   asking unless PromptOverwrite is 1 and OverWriteFiles 0 */
  int32_t DisplayComment;    /* 32: print the archive comment */
  int32_t HonorDirectories;  /* 36: 1 recreate stored folders, 0 write every file into ExtractDir */
  int32_t OverWriteFiles;    /* 40: replace existing files without asking; with it and
                                   PromptOverwrite 0, existing files are kept (skipped) */
  int32_t ConvertCRtoCRLF;   /* 44: give text entries (internal attribute bit 0) CR LF line ends:
                                   lone LF and lone CR become CR LF; the CRC is checked on the
                                   stored bytes */
  int32_t Verbose;           /* 48: print more detail (with MessageLevel 2) */
  int32_t CaseSensitive;     /* 52: match the name lists with regard to ASCII letter case */
  int32_t Privilege;         /* 56: 1 or 2 restore the stored Unix permission bits (0777 at most,
                                   never set-user-id, set-group-id or sticky) of regular files
                                   made on Unix, where the system has them */
  const char* ZipFileName;   /* 60: the archive */
  const char* ExtractDir;    /* 64: the folder to extract into */
} UnzipOptions;

/* Callbacks. The library calls them one at a time, on the calling thread,
 * only while Wiz_SingleEntryUnzip runs, and only through non-null slots. */

/* Text the library prints; `length` bytes (the text may hold a NUL earlier).
 * Returns 0. */
typedef int32_t(UNZIP32_CALL* UnzipPrintCallback)(const char* text, int32_t length);

/* `name` is the file about to be overwritten: ExtractDir joined with the
 * cleaned entry path. Returns UNZIP32_REPLACE_*. */
typedef int32_t(UNZIP32_CALL* UnzipReplaceCallback)(const char* name);

/* Fills `buffer` (`size` bytes, NUL-terminated) with a password for `name`.
 * Returns 0 when it did, 1 to skip the entry. `size` is 256; the buffer has
 * two spare bytes beyond it, and the password is read up to the first NUL
 * within `size` bytes. Called for the first encrypted entry that needs a
 * password; the password is kept for later entries and asked for again only
 * when it fails an entry's check, at most three times per entry. */
typedef int32_t(UNZIP32_CALL* UnzipPasswordCallback)(char* buffer, int32_t size, const char* prompt,
                                                     const char* name);

/* One entry of a listing (ExtractList 1):
 *   1 uncompressed size (0xFFFFFFFF when it does not fit in 32 bits)
 *   2 compressed size (likewise)
 *   3 space saved by compression, in tenths of a percent of the size
 *     (0..1000; 0 for empty entries and for entries that grew)
 *   4 month (1-12), 5 day (1-31), 6 year (four digits), 7 hour, 8 minute
 *   9 the entry's index in the central directory, from 0
 *  10 the entry's name as stored
 *  11 the compression method's name: "Stored", "Deflated", else "Method N"
 *  12 the CRC-32 stored for the entry
 *  13 1 when the entry is encrypted, else 0 */
typedef void(UNZIP32_CALL* UnzipListEntryCallback)(uint32_t size, uint32_t compressedSize,
                                                   int32_t ratio, int32_t month, int32_t day,
                                                   int32_t year, int32_t hour, int32_t minute,
                                                   int32_t index, const char* name,
                                                   const char* method, uint32_t crc,
                                                   int32_t encrypted);

/* Called once per selected entry before its data are read (extracting,
 * testing or WriteToStdOut; not when listing): `text` is the entry's name as
 * stored and `number` its uncompressed size (low 32 bits). Returns 0 to go
 * on, non-zero to stop the run with UNZIP32_ERR_CANCELLED. */
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
  int32_t StructLength;  /*  0 */
  int32_t Flags;         /*  4: bit 0 beta release, bit 1 zlib inflate in use */
  char BetaLevel[10];    /*  8: "" for a release */
  char Date[20];         /* 18: release date, "YYYY-MM-DD" */
  char ZlibVersion[10];  /* 38: version of zlib */
  uint8_t Version[4];    /* 48: the library: major, minor, patch, 0 */
  uint8_t ZipVersion[4]; /* 52: highest zip format version read: major, minor, 0, 0 */
  int32_t Reserved;      /* 56: 0 */
  uint8_t ApiVersion[4]; /* 60: this interface: major, minor, patch, 0 */
} UnzipVersionInfo;

/* Patterns are matched against the whole entry name as stored ("*" also
 * matches "/"). Null and empty patterns are ignored; include patterns that
 * are all null or empty select every entry. */
typedef struct UnzipNameList {
  const char* Names[100]; /* wildcard patterns; "*" any run, "?" one character */
} UnzipNameList;

/* Fills `info` when info->StructLength is at least 64. Returns 0, or
 * UNZIP32_ERR_PARAMETER. */
UNZIP32_EXPORT int32_t UNZIP32_CALL UzpVersion2(UnzipVersionInfo* info);

/* Extracts the archive options->ZipFileName into options->ExtractDir, which
 * is created with its missing parents. `includeCount` patterns of `include`
 * select entries (0: every entry); `excludeCount` patterns of `exclude` leave
 * entries out; UNZIP32_ERR_NO_MATCH when lists were given and no entry was
 * selected. Counts must be 0 to 100; `options` and `callbacks` must not be
 * null; ExtractDir may be null or empty only when no file is written
 * (ExtractList, TestZip, WriteToStdOut). Memory use does not depend on the
 * size of the entries. */
UNZIP32_EXPORT int32_t UNZIP32_CALL Wiz_SingleEntryUnzip(
    int32_t includeCount, const UnzipNameList* include, int32_t excludeCount,
    const UnzipNameList* exclude, const UnzipOptions* options, const UnzipUserFunctions* callbacks);

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
