/* A plain C11 program using the archive library through its public header only: it
 * writes a small archive, opens it, lists it, looks an entry up and extracts one. Exit
 * code 0 when every check holds. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "vorx.h"

static int failures = 0;

#define CHECK(condition)                                                                     \
    ((condition) ? (void)0                                                                   \
                 : (void)(++failures, fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, \
                                              __LINE__, #condition)))

/* A small archive laid down byte by byte, independently of the project's writer. */
static const char archive[] =
    /* a carrier of 16 bytes, then the header: two entries */
    "MZ carrier bytes"
    "VORX\x02\x00\x00\x8F\x02\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00"
    /* "hello": UTC seconds 1000000000, attributes 0x20, one stored block */
    "\x01\x00\x20\x00\x00\x00\x00\x00\x14\x00\x00\x00\x00\x00\x00\x00"
    "\x05\x00\x00\x00\x00\x00\x00\x00\x00\xCA\x9A\x3B\x00\x00\x00\x00"
    "\x86\xA6\x10\x36\x00\x00\x00\x00"
    "\x28\x00\x00\x00hello\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    /* empty: local standard time 86400, attributes 0x10 */
    "\x02\x00\x10\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x80\x51\x01\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00"
    /* directory: a plain names table of 20 bytes, padded to 32 */
    "\x00\x00\x00\x00\x00\x00\x00\x00\x14\x00\x00\x00"
    "hello.txt\x00"
    "dir\\empty\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00";

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "c_program.vorx";
    const size_t length = sizeof archive - 1;
    FILE *out = fopen(path, "wb");
    vorx_Stream *handle = NULL;
    vorx_FileInfo info;
    char text[5];

    CHECK(out != NULL);
    if (!out) return 1;
    CHECK(fwrite(archive, 1, length, out) == length);
    fclose(out);

    CHECK(strcmp(vorx_GetErrorString(vorx_NotFound), "Not found") == 0);
    CHECK(vorx_OpenStream(&handle, path, NULL, vorx_OpenReadOnly) == vorx_Success);
    if (!handle) return 1;
    CHECK(vorx_GetNumFiles(handle) == 2);
    CHECK(vorx_EnumerateFiles(handle, &info, 0) == vorx_Success);
    CHECK(strcmp(info.name, "hello.txt") == 0 && info.uncompressedSize == 5 &&
          info.lastWriteSeconds == 1000000000);
    CHECK(((uint64_t)info.lastWriteTime.highDateTime << 32 | info.lastWriteTime.lowDateTime) ==
          (1000000000ull + 11644473600ull) * 10000000ull);
    CHECK(vorx_EnumerateFiles(handle, &info, 1) == vorx_Success);
    CHECK(strcmp(info.name, "dir\\empty") == 0 && info.attributes == 0x10 &&
          info.lastWriteSeconds == 86400);
    CHECK(vorx_GetFileInfo(handle, &info, "HELLO.TXT") == vorx_NotFound);
    CHECK(vorx_SetUserData(handle, &info) == vorx_Success);
    CHECK(vorx_DecompressToPtr(handle, "hello.txt", text, NULL, NULL) == vorx_Success &&
          memcmp(text, "hello", 5) == 0);
    CHECK(vorx_CancelOperation(handle) == vorx_Success);
    CHECK(vorx_CloseStream(handle) == vorx_Success);

    remove(path);
    return failures ? 1 : 0;
}
