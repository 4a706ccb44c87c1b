/* A plain C11 program using the archive library through its public header only: it
 * lays down a small archive byte by byte (independently of the project's writer),
 * opens it, lists it, looks an entry up and extracts one. Exit code 0 when every check
 * holds. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vorx.h"

static int failures = 0;

#define CHECK(condition)                                                   \
    do {                                                                   \
        if (!(condition)) {                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

static uint32_t crc32_of(const unsigned char *p, size_t n) {
    uint32_t reg = 0xFFFFFFFFu;
    size_t i;
    int bit;
    for (i = 0; i < n; ++i) {
        reg ^= p[i];
        for (bit = 0; bit < 8; ++bit) reg = (reg & 1u) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return reg ^ 0xFFFFFFFFu;
}

static void put_le(unsigned char *p, uint64_t v, int bytes) {
    int i;
    for (i = 0; i < bytes; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

/* Carrier "MZ..." (16 bytes), header, two entries, directory, names table. */
static size_t build_archive(unsigned char *a) {
    const char names[] = "hello.txt\0dir\\empty";  /* with the final NUL: 20 bytes */
    size_t n = 0;
    memset(a, 0, 512);
    memcpy(a, "MZ carrier bytes", 16);
    n = 16;
    memcpy(a + n, "VORX", 4);
    put_le(a + n + 4, 0x8F000002u, 4);
    put_le(a + n + 8, 2, 8);
    n += 24;
    /* entry 0: "hello", one stored block */
    a[n] = 1;
    put_le(a + n + 2, 0x20, 2);
    put_le(a + n + 8, 20, 8);
    put_le(a + n + 16, 5, 8);
    put_le(a + n + 24, 1000000000u, 8);
    put_le(a + n + 32, crc32_of((const unsigned char *)"hello", 5), 4);
    n += 40;
    put_le(a + n, 5u << 3, 4);
    memcpy(a + n + 4, "hello", 5);
    n += 20;
    /* entry 1: empty, local standard time */
    a[n] = 2;
    put_le(a + n + 2, 0x10, 2);
    put_le(a + n + 24, 86400, 8);
    n += 40;
    /* directory: plain names table of 20 bytes, padded to 32 */
    put_le(a + n + 8, sizeof names, 4);
    n += 12;
    memcpy(a + n, names, sizeof names);
    n += 32;
    return n;
}

int main(int argc, char **argv) {
    unsigned char bytes[512];
    const char *path = argc > 1 ? argv[1] : "c_program.vorx";
    size_t length = build_archive(bytes);
    FILE *out = fopen(path, "wb");
    vorx_Stream *handle = NULL;
    vorx_FileInfo info;
    char text[5];

    CHECK(out != NULL);
    if (!out) return 1;
    CHECK(fwrite(bytes, 1, length, out) == length);
    fclose(out);

    CHECK(strcmp(vorx_GetErrorString(vorx_NotFound), "Not found") == 0);
    CHECK(vorx_OpenStream(&handle, path, NULL, vorx_OpenReadOnly) == vorx_Success);
    if (!handle) return 1;
    CHECK(vorx_GetNumFiles(handle) == 2);
    CHECK(vorx_EnumerateFiles(handle, &info, 0) == vorx_Success);
    CHECK(strcmp(info.name, "hello.txt") == 0 && info.uncompressedSize == 5 && info.lastWriteSeconds == 1000000000);
    CHECK(((uint64_t)info.lastWriteTime.highDateTime << 32 | info.lastWriteTime.lowDateTime) ==
          (1000000000ull + 11644473600ull) * 10000000ull);
    CHECK(vorx_EnumerateFiles(handle, &info, 1) == vorx_Success);
    CHECK(strcmp(info.name, "dir\\empty") == 0 && info.attributes == 0x10 && info.lastWriteSeconds == 86400);
    CHECK(vorx_GetFileInfo(handle, &info, "HELLO.TXT") == vorx_NotFound);
    CHECK(vorx_SetUserData(handle, &info) == vorx_Success);
    CHECK(vorx_DecompressToPtr(handle, "hello.txt", text, NULL, NULL) == vorx_Success && memcmp(text, "hello", 5) == 0);
    CHECK(vorx_CancelOperation(handle) == vorx_Success);
    CHECK(vorx_CloseStream(handle) == vorx_Success);

    remove(path);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
