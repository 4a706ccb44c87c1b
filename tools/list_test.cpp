// vorx l and vorx t: list the entries of an archive, and decode every one of them
// checking its CRC-32.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "tools/commands.h"
#include "tools/parallel_decode.h"
#include "tools/patterns.h"

namespace tool {
namespace {

// Entries up to this size are tested in memory; larger ones through a temporary file.
constexpr uint64_t kTestInMemoryLimit = 64ull << 20;

struct EntryResult {
    std::string name;
    vorx_Error code;
};

// What a test result says of an entry that failed.
const char* FailureText(vorx_Error code) {
    return code == vorx_PasswordRequired ? "encrypted: give the password with -p"
                                         : vorx_GetErrorString(code);
}

}  // namespace

int List(const Options& o) {
    OpenArchive archive;
    if (const int e = Open(o, &archive)) return e;
    const EntryList list = SelectEntries(o, ReadEntries(archive.handle));
    if (o.json)
        std::printf("{\"archive\":%s,\"entries\":[", JsonString(o.archive).c_str());
    else
        std::printf("%-19s  %-5s %14s %14s  %s\n", "Modified (UTC)", "Attr", "Size", "Stored",
                    "Name");
    uint64_t totalStored = 0;
    for (size_t i = 0; i < list.entries.size(); ++i) {
        const vorx_FileInfo& info = list.entries[i];
        const std::string name = DisplayName(info.name, o.codePage, !o.json);
        const bool encrypted = (info.attributes & VORX_ATTRIBUTE_ENCRYPTED) != 0;
        totalStored += info.compressedSize;
        if (o.json) {
            std::printf(
                "%s{\"name\":%s,\"size\":%" PRIu64 ",\"storedSize\":%" PRIu64
                ",\"crc32\":\"%08x\",\"attributes\":%u,\"encrypted\":%s,\"modified\":\"%s\"}",
                i ? "," : "", JsonString(name).c_str(), info.uncompressedSize, info.compressedSize,
                info.crc32, info.attributes, encrypted ? "true" : "false",
                FormatTime(EntrySeconds(info), "%Y-%m-%dT%H:%M:%SZ").c_str());
        } else {
            char attr[6] = "-----";
            if (info.attributes & 0x01) attr[0] = 'R';
            if (info.attributes & 0x02) attr[1] = 'H';
            if (info.attributes & 0x04) attr[2] = 'S';
            if (info.attributes & 0x20) attr[3] = 'A';
            if (encrypted) attr[4] = 'E';
            std::printf("%s  %s %14" PRIu64 " %14" PRIu64 "  %s\n",
                        FormatTime(EntrySeconds(info)).c_str(), attr, info.uncompressedSize,
                        info.compressedSize, name.c_str());
        }
    }
    if (list.error != vorx_Success) {
        if (o.json) std::printf("]}\n");
        return ReportUnreadableEntry(archive.handle, list);
    }
    const uint64_t count = list.entries.size();
    if (o.json)
        std::printf("],\"count\":%" PRIu64 ",\"size\":%" PRIu64 ",\"storedSize\":%" PRIu64 "}\n",
                    count, list.totalSize, totalStored);
    else
        std::printf("%-19s  %-5s %14" PRIu64 " %14" PRIu64 "  %" PRIu64 " entr%s\n", "", "",
                    list.totalSize, totalStored, count, count == 1 ? "y" : "ies");
    return list.selectExit;
}

int Test(const Options& o) {
    OpenArchive archive;
    if (const int e = Open(o, &archive)) return e;
    const EntryList list = SelectEntries(o, ReadEntries(archive.handle));
    if (list.error != vorx_Success) return ReportUnreadableEntry(archive.handle, list);
    gActiveHandle = archive.handle;
    std::vector<EntryResult> results;
    Progress progress(list.totalSize);
    uint64_t done = 0;
    int exitCode = list.selectExit;
    // Large entries are decoded into a file of a fresh name beside the archive (on one
    // thread; with more, block by block in memory).
    const host::FolderPtr scratchFolder = host::OpenFolder(host::ParentFolder(o.archive));
    std::unique_ptr<ParallelDecoder> pool;
    if (const unsigned threads = Threads(o); threads > 1)
        pool.reset(
            new ParallelDecoder(archive.handle, o.archive, archive.Password(), threads, true));
    for (size_t index = 0; index < list.entries.size(); ++index) {
        const vorx_FileInfo& info = list.entries[index];
        if (gInterrupted) break;
        if (pool) pool->Ahead(list.entries, index, nullptr);
        DecodeProgress tracker{&progress, done, info.uncompressedSize};
        vorx_SetUserData(archive.handle, &tracker);
        progress.SetFile(DisplayName(info.name, o.codePage));
        // Decoding goes by name, and a name finds its first entry: the memory must fit
        // the entry found, which differs from this one after an entry of the same name.
        vorx_FileInfo found;
        vorx_Error e = vorx_GetFileInfo(archive.handle, &found, info.name);
        const DecodedEntry decoded = pool && e == vorx_Success ? pool->Take(index) : DecodedEntry{};
        if (decoded.decoded) {
            e = decoded.code;
        } else if (e == vorx_Success && pool && found.uncompressedSize > kWholeEntryLimit) {
            e = pool->Test(info.name, archive.Password(),
                           found.uncompressedSize <= kTestInMemoryLimit ? BlockRules::Memory
                                                                        : BlockRules::File,
                           &tracker);
        } else if (e == vorx_Success && found.uncompressedSize <= kTestInMemoryLimit) {
            std::unique_ptr<uint8_t[]> memory(
                new (std::nothrow) uint8_t[static_cast<size_t>(found.uncompressedSize) + 1]);
            e = memory ? vorx_DecompressToPtr(archive.handle, info.name, memory.get(),
                                              &OnDecodeProgress, archive.Password())
                       : vorx_OutOfMemory;
        } else if (e == vorx_Success) {
            host::TemporaryFile scratch;
            e = scratchFolder && scratch.Create(scratchFolder)
                    ? DecompressToTemporary(archive.handle, info.name, scratch, *scratchFolder,
                                            &OnDecodeProgress, archive.Password())
                    : vorx_InvalidArgument;
        }
        if (gInterrupted) break;
        done += info.uncompressedSize;
        progress.Show(done);
        results.push_back(EntryResult{DisplayName(info.name, o.codePage, !o.json), e});
        if (e != vorx_Success) exitCode = std::max(exitCode, ExitForError(e));
    }
    gActiveHandle = nullptr;
    progress.Done();
    if (gInterrupted) return Fail(kExitInterrupted, "interrupted");
    size_t failed = 0;
    if (o.json) std::printf("{\"archive\":%s,\"entries\":[", JsonString(o.archive).c_str());
    for (size_t i = 0; i < results.size(); ++i) {
        const EntryResult& r = results[i];
        if (r.code != vorx_Success) ++failed;
        if (o.json) {
            std::printf("%s{\"name\":%s,\"ok\":%s,\"code\":%d,\"message\":%s}", i ? "," : "",
                        JsonString(r.name).c_str(), r.code == vorx_Success ? "true" : "false",
                        r.code, JsonString(FailureText(r.code)).c_str());
        } else if (r.code == vorx_Success) {
            std::printf("OK      %s\n", r.name.c_str());
        } else {
            std::printf("FAILED  %s: %s\n", r.name.c_str(), FailureText(r.code));
        }
    }
    if (o.json)
        std::printf("],\"tested\":%zu,\"failed\":%zu}\n", results.size(), failed);
    else
        std::printf("%zu entr%s tested, %zu failed\n", results.size(),
                    results.size() == 1 ? "y" : "ies", failed);
    return exitCode;
}

}  // namespace tool
