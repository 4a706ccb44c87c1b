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

#include "library/parallel_decoder.h"
#include "platform/host.h"
#include "tools/commands.h"
#include "tools/patterns.h"

namespace tool {
namespace {

// Entries up to this size are tested under the rules of an extraction to memory, larger
// ones under those of an extraction to a file (block by block in the output window,
// whose bytes are dropped: testing writes no file).
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
    const CancelOnInterrupt cancel(archive.handle);
    std::vector<EntryResult> results;
    Progress progress(list.totalSize);
    uint64_t done = 0;
    int exitCode = list.selectExit;
    // The command's thread is one of the decoders: it has nothing else to do.
    vorx::ParallelDecoder::Settings settings;
    settings.callerDecodes = true;
    ArchiveDecoder decoder(archive, Threads(o), settings);
    for (size_t index = 0; index < list.entries.size(); ++index) {
        const vorx_FileInfo& info = list.entries[index];
        if (gInterrupted) break;
        decoder.Ahead(list.index[index]);
        DecodeProgress tracker{&progress, done, info.uncompressedSize};
        vorx_SetUserData(archive.handle, &tracker);
        progress.SetFile(DisplayName(info.name, o.codePage));
        vorx::EntryRequest request;
        request.rules =
            info.uncompressedSize <= kTestInMemoryLimit ? vorx::Rules::Memory : vorx::Rules::File;
        request.drop = true;  // the bytes are only checked
        request.progress = &OnDecodeProgress;
        const vorx_Error e = decoder.Extract(list.index[index], archive.Password(), request);
        if (gInterrupted) break;
        done += info.uncompressedSize;
        progress.Show(done);
        results.push_back(EntryResult{DisplayName(info.name, o.codePage, !o.json), e});
        if (e != vorx_Success) exitCode = std::max(exitCode, ExitForError(e));
    }
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
