// Fuzz target: any byte string opened as an archive (through a temporary file), and
// every entry decoded to memory and to a file, without a password and with the one the
// seeds use. Besides crashes, out-of-bounds accesses (the memory destination is a heap
// block of exactly the declared size), leaks and hangs, it checks what the calls must
// never do: give a code outside their documented sets, report progress outside 0 to
// 100 or end a successful decode on anything but 100, or give different bytes to
// memory and to a file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "library/vorx.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Check;

constexpr char kPassword[] = "fuzz";
constexpr uint64_t kMaxEntries = 64;
// Entries may declare any size; larger ones are not decoded, to keep every input quick.
constexpr uint64_t kMaxDecoded = 16u << 20;

struct Progress {
    int calls = 0;
    int last = -1;
    bool inRange = true;
};

void VORX_CALL OnProgress(void* user, int percent) {
    auto* p = static_cast<Progress*>(user);
    ++p->calls;
    p->last = percent;
    p->inRange = p->inRange && percent >= 0 && percent <= 100;
}

bool OneOf(vorx_Error e, std::initializer_list<vorx_Error> codes) {
    for (vorx_Error c : codes)
        if (e == c) return true;
    return false;
}

void DecodeEntry(vorx_Stream* h, const vorx_FileInfo& enumerated, const char* password,
                 const std::string& output) {
    // A name shared by several entries finds the first of them: the memory must hold
    // the declared size of the entry found.
    vorx_FileInfo info;
    if (vorx_GetFileInfo(h, &info, enumerated.name) != vorx_Success) return;
    if (info.uncompressedSize > kMaxDecoded) return;
    Progress progress;
    vorx_SetUserData(h, &progress);
    std::vector<uint8_t> memory(static_cast<size_t>(info.uncompressedSize));
    const vorx_Error toMemory =
        vorx_DecompressToPtr(h, info.name, memory.data(), &OnProgress, password);
    Check(OneOf(toMemory, {vorx_Success, vorx_CorruptArchive, vorx_NotFound, vorx_CrcMismatch,
                           vorx_PasswordRequired, vorx_OutOfMemory}),
          "code of the decode to memory");
    Check(progress.inRange, "progress within 0 to 100");
    if (toMemory == vorx_Success) Check(progress.last == 100, "a decode ends on 100");

    progress = Progress();
    const vorx_Error toFile =
        vorx_DecompressToFile(h, info.name, output.c_str(), &OnProgress, password);
    Check(
        OneOf(toFile, {vorx_Success, vorx_Unknown, vorx_InvalidArgument, vorx_CorruptArchive,
                       vorx_NotFound, vorx_OutOfDiskSpace, vorx_CrcMismatch, vorx_PasswordRequired,
                       vorx_OutOfMemory, vorx_ReadFailed, vorx_WriteFailed}),
        "code of the decode to a file");
    Check(progress.inRange, "progress within 0 to 100");
    // The two calls run the same decode; a file may still fail to take the entry's
    // time (13), which a fuzzed record can put out of the system's range.
    if (toMemory == vorx_Success)
        Check(toFile == vorx_Success || toFile == vorx_ReadFailed, "file agrees with memory");
    if (toMemory == vorx_Success && toFile == vorx_Success) {
        std::FILE* in = std::fopen(output.c_str(), "rb");
        Check(in != nullptr, "the output file exists");
        std::vector<uint8_t> written(memory.size() + 1);
        const size_t n = std::fread(written.data(), 1, written.size(), in);
        std::fclose(in);
        // Fewer bytes than declared may come out; the rest of the memory is untouched.
        Check(n <= memory.size() && (n == 0 || std::memcmp(written.data(), memory.data(), n) == 0),
              "same bytes in the file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string archive = fuzz::TempPath(".vorx"), output = fuzz::TempPath(".out");
    const fuzz::RemoveAfterUse removeArchive{archive}, removeOutput{output};
    if (!fuzz::WriteInput(archive, data, size)) return 0;

    vorx_Stream* h = nullptr;
    if (vorx_OpenStream(&h, archive.c_str(), kPassword, 2) != vorx_Success) return 0;
    const uint64_t count = vorx_GetNumFiles(h);
    for (uint64_t i = 0; i < count && i < kMaxEntries; ++i) {
        vorx_FileInfo info;
        if (vorx_EnumerateFiles(h, &info, i) != vorx_Success || info.name[0] == '\0') continue;
        DecodeEntry(h, info, nullptr, output);
        if (info.attributes & VORX_ATTRIBUTE_ENCRYPTED) DecodeEntry(h, info, kPassword, output);
    }
    vorx_CloseStream(h);
    return 0;
}
