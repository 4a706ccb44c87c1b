// vorx x: extracts every entry below a folder, never through a link, asking before it
// replaces a file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "container/format.h"
#include "library/parallel_decoder.h"
#include "platform/platform.h"
#include "platform/host.h"
#include "tools/commands.h"
#include "tools/extract_plan.h"
#include "tools/file_writer.h"
#include "tools/patterns.h"

namespace tool {
namespace {

// Asks on the terminal whether to replace `path`.
Reply AskReplace(const std::string& path) {
    std::fprintf(stderr, "Replace '%s'? [y]es, [n]o, [A]ll, [N]one: ", path.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!host::ReadLine(&answer)) return Reply::EndOfInput;
    return ParseReply(answer);
}

// Entries up to this size are decoded into memory and written by the file writer's
// thread; larger ones are decoded straight into their file. With more threads, the
// workers decode ahead every entry this command decodes into memory.
constexpr uint64_t kExtractInMemoryLimit = 4ull << 20;
static_assert(kExtractInMemoryLimit <= vorx::ParallelDecoder::Settings().wholeEntry);
// File data waiting for the writer's thread at most. Creating files is usually the
// slower side, so a deeper queue would hold more memory without finishing sooner.
constexpr size_t kWriterQueueBytes = 8u << 20;

// Folders held open at most for the walk from the output folder down (the files queued
// for writing hold theirs besides).
constexpr size_t kOpenFolders = 256;

// The folders of one extraction: those known to exist, those held open, and those this
// extraction made, in which every file is one it wrote itself. Where names ignore case,
// two names of the tool's lists may be one file, so the file system is asked instead.
struct FolderCache {
    std::set<std::string> existing;
    std::map<std::string, host::FolderPtr> open;
    std::set<std::string> made;
};

}  // namespace

int Extract(const Options& o) {
    OpenArchive archive;
    if (const int e = Open(o, &archive)) return e;
    const std::string outDir = o.outDir ? *o.outDir : ".";
    FolderCache folders;
    if (!outDir.empty() && host::Stat(outDir).kind != host::PathKind::Directory) {
        // Make the output folder with its parents.
        std::string built;
        size_t start = 0;
        while (start <= outDir.size()) {
            size_t end = outDir.find_first_of(std::string("/") + host::PathSeparator(), start);
            if (end == std::string::npos) end = outDir.size();
            built = outDir.substr(0, end);
            bool created = false;
            if (!built.empty() && built.back() != ':' && !host::MakeDirectory(built, &created))
                return Fail(kExitFatal, SystemFailure("cannot make the folder '" + built + "'"));
            if (end == outDir.size() && created && !host::NamesIgnoreCase())
                folders.made.insert(outDir);
            start = end + 1;
        }
    }
    folders.existing.insert(outDir);
    // The output folder may be a link; nothing below it is followed.
    const host::FolderPtr root = host::OpenFolder(outDir);
    if (!root) return Fail(kExitFatal, SystemFailure("cannot open the folder '" + outDir + "'"));

    const EntryList list = SelectEntries(o, ReadEntries(archive.handle));
    if (list.error != vorx_Success) return ReportUnreadableEntry(archive.handle, list);

    Overwrite policy = o.yes ? Overwrite::All : Overwrite::Ask;
    const bool canAsk = host::IsTerminal(0) && host::IsTerminal(2);
    Progress progress(list.totalSize);
    uint64_t done = 0;
    int exitCode = list.selectExit;
    size_t extractedHere = 0, skipped = 0, failed = 0;
    gActiveHandle = archive.handle;
    // Files extracted (or queued for writing) so far, by host path.
    std::set<std::string> written;
    // The names of the entries so far as Windows compares them: an entry of a name seen
    // before would replace (or be asked about as if it were) the earlier entry's file.
    std::set<std::string> claimed;
    tool::FileWriter writer(kWriterQueueBytes);
    const auto fail = [&](const std::string& message, int code) {
        progress.Done();
        Error(message);
        ++failed;
        exitCode = std::max(exitCode, code);
    };
    const auto reportWriterFailures = [&] {
        for (const std::string& failure : writer.TakeFailures()) fail(failure, kExitFatal);
    };
    // Entries are decoded ahead on the workers' threads; everything else happens here,
    // in entry order, as on one thread. This thread hands the files to the writer and
    // decodes nothing while it waits.
    vorx::ParallelDecoder::Settings settings;
    settings.threads = Threads(o);
    settings.skipComment = true;
    vorx::ParallelDecoder decoder(archive.handle, settings);
    decoder.SetAheadPassword(archive.Password());
    for (size_t index = 0; index < list.entries.size(); ++index) {
        const vorx_FileInfo& info = list.entries[index];
        reportWriterFailures();
        if (gInterrupted) break;
        const uint64_t entryIndex = list.index[index];
        decoder.Ahead(entryIndex);
        DecodeProgress tracker{&progress, done, info.uncompressedSize};
        done += info.uncompressedSize;
        if (std::strcmp(info.name, vorx::kCommentEntryName) == 0) continue;
        const std::string display = DisplayName(info.name, o.codePage);
        progress.SetFile(display);
        const WalkPlan plan = PlanWalk(info.name, o.codePage, outDir);
        if (!plan.refusal.empty()) {
            fail("refused '" + display + "': " + plan.refusal, kExitFatal);
            continue;
        }
        if (!claimed.insert(plan.key).second) {
            fail("refused '" + display +
                     "': an earlier entry has this name (as Windows compares names, letter case "
                     "ignored), and one file cannot hold both",
                 kExitFatal);
            continue;
        }
        // Folder by folder from the output folder, each opened from the one above.
        const std::string& hostPath = plan.paths.back();
        const std::string& leaf = plan.names.back();
        host::FolderPtr folder = root;
        bool freshFolder = folders.made.count(outDir) != 0;
        bool ok = true;
        for (size_t i = 0; i + 1 < plan.names.size() && ok; ++i) {
            const std::string& path = plan.paths[i];
            const auto known = folders.open.find(path);
            if (known != folders.open.end()) {
                folder = known->second;
                freshFolder = folders.made.count(path) != 0;
                continue;
            }
            // A file of that name may still be waiting to be written.
            if (written.count(path)) writer.Drain();
            host::FolderPtr next;
            const host::Subfolder step = host::OpenSubfolder(folder, plan.names[i], &next);
            if (step == host::Subfolder::Link) {
                fail("refused '" + display + "': '" + path +
                         "' is a link, and extraction never follows one",
                     kExitFatal);
                ok = false;
            } else if (step != host::Subfolder::Opened && step != host::Subfolder::Made) {
                fail(SystemFailure("cannot make the folder '" + path + "' for '" + display + "'"),
                     kExitFatal);
                ok = false;
            } else {
                if (folders.open.size() >= kOpenFolders) folders.open.clear();
                folders.open.emplace(path, next);
                folders.existing.insert(path);
                if (step == host::Subfolder::Made && !host::NamesIgnoreCase())
                    folders.made.insert(path);
                freshFolder = folders.made.count(path) != 0;
                folder = std::move(next);
            }
        }
        if (!ok) continue;

        // In a folder this extraction made, only its own files and folders can be in the
        // way; elsewhere the file system says what is there.
        host::PathKind existing;
        if (freshFolder) {
            existing = folders.existing.count(hostPath) ? host::PathKind::Directory
                       : written.count(hostPath)        ? host::PathKind::File
                                                        : host::PathKind::Missing;
        } else {
            // A link of the file's name counts as a file: it is replaced, never followed.
            existing = host::StatIn(*folder, leaf).kind;
        }
        OverwriteDecision decision = DecideOverwrite(existing, policy, canAsk, Reply::NotAsked);
        while (decision.action == Action::Ask) {
            progress.Done();
            decision = DecideOverwrite(existing, policy, canAsk, AskReplace(hostPath));
        }
        policy = decision.policy;
        if (decision.action == Action::FolderInTheWay) {
            fail("cannot write '" + hostPath + "': a folder of that name exists", kExitFatal);
            continue;
        }
        if (decision.action == Action::Skip) {
            progress.Done();
            Error("skipped '" + hostPath + "': it exists (use -y to replace)");
            ++skipped;
            exitCode = std::max(exitCode, static_cast<int>(kExitWarning));
            continue;
        }

        vorx_SetUserData(archive.handle, &tracker);
        const char* pw = archive.Password();
        tool::FileJob job;
        job.folder = folder;
        job.name = leaf;
        job.path = hostPath;
        // Where names ignore case no folder counts as fresh, so the file system was asked
        // (under any spelling); an entry of a name seen before was refused.
        job.replace = existing != host::PathKind::Missing;
        job.lastWriteSeconds = info.lastWriteSeconds;
        // Each entry is decoded by its index, never found again by its name.
        vorx_Error e = vorx_Success;
        bool inMemory = false;
        if (info.uncompressedSize <= kExtractInMemoryLimit) {
            // Decoded here (or ahead) while the writer's thread writes the files before it.
            uint8_t* data = nullptr;
            vorx::EntryRequest request;
            request.owned = &data;
            request.progress = &OnDecodeProgress;
            e = decoder.Extract(entryIndex, pw, request);
            job.data.reset(data);
            // Without memory for it, the entry goes through a file instead.
            inMemory = data != nullptr || e != vorx_OutOfMemory;
            // The bytes written are the bytes decoded: on success exactly the record's size.
            job.size = static_cast<size_t>(info.uncompressedSize);
            if (inMemory && e == vorx_Success) writer.Submit(std::move(job));
        }
        if (!inMemory) {
            // Decoded into a file of a fresh name beside it, renamed into place when it is
            // complete.
            writer.Drain();
            host::TemporaryFile temporary;
            if (!temporary.Create(folder)) {
                fail(SystemFailure("cannot write '" + hostPath + "'"), kExitFatal);
                continue;
            }
            e = DecodeToTemporary(decoder, entryIndex, info, temporary, *folder, pw);
            if (e == vorx_Success && !temporary.RenameTo(leaf)) {
                fail(SystemFailure("cannot write '" + hostPath + "'"), kExitFatal);
                continue;
            }
            if (e == vorx_Success) ++extractedHere;
        }
        if (e != vorx_Success) {
            if (gInterrupted) break;
            fail("cannot extract '" + display + "': " +
                     (e == vorx_PasswordRequired
                          ? std::string("it is encrypted: give the password with -p")
                          : LibraryFailure(e, folder->path(), info.uncompressedSize)),
                 ExitForError(e));
            continue;
        }
        written.insert(hostPath);
        progress.Show(done);
    }
    gActiveHandle = nullptr;
    // Interrupted: what was decoded but not written yet is dropped.
    writer.Finish(gInterrupted);
    reportWriterFailures();
    progress.Done();
    if (gInterrupted) return Fail(kExitInterrupted, "interrupted");
    const size_t extracted = extractedHere + writer.written();
    std::printf("%zu file%s extracted", extracted, extracted == 1 ? "" : "s");
    if (skipped) std::printf(", %zu skipped", skipped);
    if (failed) std::printf(", %zu failed", failed);
    std::printf("\n");
    return exitCode;
}

}  // namespace tool
