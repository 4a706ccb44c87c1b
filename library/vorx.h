/*
 * vorx.h - the archive access library.
 *
 * Reads archives of the VORX format: finds an archive by scanning a file for its
 * signature (so a stand-alone archive and an executable with an appended archive
 * open alike), lists its entries and extracts them to files or to memory.
 * The library only reads archives.
 *
 * Every operation except vorx_GetNumFiles and vorx_GetErrorString returns a
 * vorx_Error; 0 (vorx_Success) is success. Strings are NUL-terminated 8-bit text
 * in the system's ANSI code page; entry names use '\' between folders and compare
 * byte for byte.
 *
 * Threads: operations on one handle run one at a time; only vorx_CancelOperation
 * may be called from another thread while a decompression runs on the handle.
 * Two handles may be used on two threads at the same time.
 *
 * This header is plain C11 and C++; it includes nothing but <stdint.h>.
 */
#ifndef VORX_H
#define VORX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention of the operations and of the progress callback:
 * stdcall on 32-bit Windows, the platform's default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define VORX_CALL __stdcall
#else
#define VORX_CALL
#endif

/* Result codes. The values are part of the interface and never change. */
typedef int32_t vorx_Error;
enum {
    vorx_Success = 0,
    vorx_Unknown = 1,
    vorx_InvalidArgument = 2,
    vorx_CorruptArchive = 3,
    vorx_NotFound = 4,
    vorx_EntryExists = 5,
    vorx_OutOfDiskSpace = 6,
    vorx_ReadOnly = 7,
    vorx_Locked = 8,
    vorx_CrcMismatch = 9,
    vorx_PasswordRequired = 10,
    vorx_OutOfMemory = 11,
    vorx_OlderFormat = 12,
    vorx_ReadFailed = 13,
    vorx_NotFoundOrInUse = 14,
    vorx_WriteFailed = 15,
    vorx_Debug1 = 256,
    vorx_Debug2 = 257
};

/* Mode bits of vorx_OpenStream. Callers pass vorx_OpenReadOnly. */
enum {
    vorx_OpenReadWrite = 1, /* bit 0: read and write, random access (nothing is ever written) */
    vorx_OpenReadOnly = 2   /* bit 1: read only */
};

/* The archive handle; callers hold it by pointer only. */
typedef struct vorx_Stream vorx_Stream;

/* A Windows FILETIME: 100-nanosecond intervals since 1601-01-01 UTC, low word first. */
typedef struct vorx_FileTime {
    uint32_t lowDateTime;
    uint32_t highDateTime;
} vorx_FileTime;

/* File information that the caller provides and the library fills.
 * The layout is fixed on every target: offsets 0, 4, 8, 16, 24, 32, 288; size 296. */
typedef struct vorx_FileInfo {
    uint32_t attributes;         /* Win32 attribute bits as archived; 0x100 marks encrypted data */
    uint32_t crc32;              /* CRC-32 of the uncompressed data */
    uint64_t compressedSize;     /* bytes of entry data in the archive */
    uint64_t uncompressedSize;   /* bytes once extracted */
    vorx_FileTime lastWriteTime; /* UTC (converted through local time: the C runtime's
                                    time zone, read once per process; call tzset() after
                                    changing TZ) */
    char name[256];              /* NUL-terminated, at most 255 bytes */
    int64_t lastWriteSeconds;    /* seconds since 1970 UTC; 0 when the archive stores a FILETIME */
} vorx_FileInfo;

/* Attribute bit of an entry whose data is encrypted. */
#define VORX_ATTRIBUTE_ENCRYPTED 0x100u

/* Progress callback: called on the decoding thread with the handle's user data and a
 * percentage from 0 to 100; the last call of a decode that read all blocks passes 100. */
typedef void(VORX_CALL *vorx_ProgressCallback)(void *userData, int percent);

/**
 * Opens the archive in the file at `path` (at most 255 characters).
 * The handle is stored through `handleOut` (null on every failure).
 * `password` (may be null) is needed only when the archive's names table is encrypted.
 * `mode`: vorx_OpenReadOnly, or vorx_OpenReadWrite.
 * Returns 0; 2 bad mode or path too long; 4 file not found or no archive in it;
 * 13 short read of the header; 3 archive cut short or names table of the wrong length;
 * 10 names table encrypted and no password; 9 wrong password; 11 out of memory.
 */
vorx_Error VORX_CALL vorx_OpenStream(vorx_Stream **handleOut, const char *path,
                                     const char *password, uint32_t mode);

/** Closes the archive and frees the handle. 2 for a null handle. The handle must
 * not be used afterwards. */
vorx_Error VORX_CALL vorx_CloseStream(vorx_Stream *handle);

/** Number of entries of the archive; 0 for a null handle. */
uint64_t VORX_CALL vorx_GetNumFiles(vorx_Stream *handle);

/** Stores the value handed to the progress callback. 2 for a null handle. */
vorx_Error VORX_CALL vorx_SetUserData(vorx_Stream *handle, void *userData);

/**
 * Requests that the decompression running on this handle stop at its next block
 * (it then returns 2). May be called from any thread. A request made before a
 * decompression starts is lost. Returns 0; 2 for a null handle.
 */
vorx_Error VORX_CALL vorx_CancelOperation(vorx_Stream *handle);

/** The message of a result code; "Unknown <?>" for codes outside the table. Never null. */
const char *VORX_CALL vorx_GetErrorString(vorx_Error code);

/**
 * Fills `info` for the entry with the given index (0 is the first entry).
 * Reading the entries in index order reads each record once.
 * Returns 0; 2 index out of range, or a null handle or info; 4 older archive format,
 * or the entry's name cannot be read (the other fields are filled then);
 * 13 the archive is cut short (nothing is filled).
 */
vorx_Error VORX_CALL vorx_EnumerateFiles(vorx_Stream *handle, vorx_FileInfo *info, uint64_t index);

/**
 * Finds the entry whose name equals `name` exactly (letter case included; of equal
 * names the first) and fills `info` (which may be null, to test whether the entry
 * exists); `info->name` receives a copy of `name`.
 * Returns 0; 4 not found (also for an empty name, an empty or older archive);
 * 2 name longer than 255 bytes, or a null handle or name; 1 unknown archive version;
 * 13 the archive is cut short.
 */
vorx_Error VORX_CALL vorx_GetFileInfo(vorx_Stream *handle, vorx_FileInfo *info, const char *name);

/**
 * Extracts the entry `name` to the file `outputPath` (created or truncated) and sets
 * its last-write time. `password` is used only if the entry is encrypted.
 * Returns 0; 4 entry not found; 10 encrypted and no password; 6 not enough free space;
 * 2 output file cannot be created, or cancelled; 3 corrupt data or wrong password;
 * 9 CRC mismatch; 1 a block larger than 64 MiB; 11 out of memory; 15 write failed;
 * 13 read failed or the file's time could not be set.
 * What was written before a failure stays on disk.
 */
vorx_Error VORX_CALL vorx_DecompressToFile(vorx_Stream *handle, const char *name,
                                           const char *outputPath, vorx_ProgressCallback progress,
                                           const char *password);

/**
 * Extracts the entry `name` into `destination`, which must hold the entry's
 * uncompressedSize bytes; nothing is written beyond them.
 * Returns 0; 4 entry not found; 2 name too long, or cancelled; 11 entry of 4 GiB
 * or more, or out of memory; 10 encrypted and no password; 3 corrupt data or
 * wrong password; 9 CRC mismatch; 13 read failed.
 */
vorx_Error VORX_CALL vorx_DecompressToPtr(vorx_Stream *handle, const char *name, void *destination,
                                          vorx_ProgressCallback progress, const char *password);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VORX_H */
