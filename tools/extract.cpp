// vorx x: extracts every entry below a folder, never through a link, asking before it
// replaces a file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "container/format.h"
#include "library/parallel_decoder.h"
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

// Makes the output folder `outDir` with its parents, noting it in `made` when this call
// made it (where names keep their case). Returns the exit code.
int MakeOutputFolder(const std::string& outDir, std::set<std::string>* made) {
    if (outDir.empty() || host::Stat(outDir).kind == host::PathKind::Directory) return kExitOk;
    size_t start = 0;
    while (start <= outDir.size()) {
        size_t end = outDir.find_first_of(std::string("/") + host::PathSeparator(), start);
        if (end == std::string::npos) end = outDir.size();
        const std::string built = outDir.substr(0, end);
        bool created = false;
        if (!built.empty() && built.back() != ':' && !host::MakeDirectory(built, &created))
            return Fail(kExitFatal, SystemFailure("cannot make the folder '" + built + "'"));
        if (end == outDir.size() && created && !host::NamesIgnoreCase()) made->insert(outDir);
        start = end + 1;
    }
    return kExitOk;
}

// One entry on its way to its file.
struct Entry {
    const vorx_FileInfo& info;
    uint64_t index;  // in the archive
    std::string display;
    WalkPlan plan;
    host::FolderPtr folder;  // held: where the file goes
    bool fresh = false;      // the folder is one this extraction made
    const std::string& path() const { return plan.paths.back(); }
    const std::string& leaf() const { return plan.names.back(); }
};

// One run of x over the selected entries, in entry order. Entries are decoded ahead on
// the workers' threads; everything else happens on the command's thread, as on one
// thread, which hands the files to the writer and decodes nothing while it waits.
class Extraction {
public:
    Extraction(const Options& o, const OpenArchive& archive, const EntryList& list,
               const std::string& outDir, host::FolderPtr root, FolderCache folders)
        : o_(o),
          archive_(archive),
          list_(list),
          outDir_(outDir),
          root_(std::move(root)),
          folders_(std::move(folders)),
          cancel_(archive.handle),
          progress_(list.totalSize),
          exitCode_(list.selectExit),
          policy_(o.yes ? Overwrite::All : Overwrite::Ask),
          canAsk_(host::IsTerminal(0) && host::IsTerminal(2)),
          writer_(kWriterQueueBytes),
          decoder_(archive, Threads(o), Settings()) {}
    int Run();

private:
    static vorx::ParallelDecoder::Settings Settings() {
        vorx::ParallelDecoder::Settings settings;
        settings.skipComment = true;
        return settings;
    }
    // False when the run stops there (interrupted).
    bool ExtractEntry(size_t position);
    // False (reported) when the name is refused or an earlier entry had it.
    bool Claim(const Entry& entry);
    // Folder by folder from the output folder, each opened from the one above; false
    // (reported) when a folder cannot be made or is a link.
    bool WalkTo(Entry* entry);
    bool StepInto(Entry* entry, size_t step);
    host::PathStatus Existing(const Entry& entry) const;
    // True (reported) when the file in the entry's way, `existing`, is one this run wrote.
    bool WroteEarlier(const Entry& entry, const host::PathStatus& existing);
    // Whether the entry's file may be written over `existing` (asking on the terminal).
    bool MayWrite(host::PathKind existing, const std::string& path);
    // Decodes the entry into its file; false when the run stops there (interrupted).
    bool Write(const Entry& entry, bool replace);
    bool DecodeToMemory(const Entry& entry, bool replace, vorx_Error* e);
    bool DecodeToFile(const Entry& entry, bool replace, vorx_Error* e);
    void Failure(const std::string& message, int code);
    void ReportWriterFailures();
    int Summary();

    const Options& o_;
    const OpenArchive& archive_;
    const EntryList& list_;
    const std::string& outDir_;
    const host::FolderPtr root_;
    FolderCache folders_;
    const CancelOnInterrupt cancel_;
    Progress progress_;
    uint64_t done_ = 0;  // bytes of the entries before the current one and of it
    int exitCode_;
    size_t extractedHere_ = 0, skipped_ = 0, failed_ = 0;
    Overwrite policy_;
    const bool canAsk_;
    // Files extracted (or queued for writing) so far, by host path.
    std::set<std::string> written_;
    // The names of the entries so far as Windows compares them: an entry of a name seen
    // before would replace (or be asked about as if it were) the earlier entry's file.
    std::set<std::string> claimed_;
    FileWriter writer_;
    ArchiveDecoder decoder_;
};

int Extraction::Run() {
    for (size_t position = 0; position < list_.entries.size(); ++position) {
        ReportWriterFailures();
        if (gInterrupted || !ExtractEntry(position)) break;
    }
    // Interrupted: what was decoded but not written yet is dropped.
    writer_.Finish(gInterrupted);
    ReportWriterFailures();
    progress_.Done();
    if (gInterrupted) return Fail(kExitInterrupted, "interrupted");
    return Summary();
}

bool Extraction::ExtractEntry(size_t position) {
    const vorx_FileInfo& info = list_.entries[position];
    const uint64_t index = list_.index[position];
    decoder_.Ahead(index);
    DecodeProgress tracker{&progress_, done_, info.uncompressedSize};
    done_ += info.uncompressedSize;
    if (std::strcmp(info.name, vorx::kCommentEntryName) == 0) return true;
    Entry entry{info, index, DisplayName(info.name, o_.codePage), {}, root_};
    progress_.SetFile(entry.display);
    entry.plan = PlanWalk(info.name, o_.codePage, outDir_);
    if (!Claim(entry) || !WalkTo(&entry)) return true;
    const host::PathStatus existing = Existing(entry);
    if (existing.kind == host::PathKind::File && !entry.fresh && WroteEarlier(entry, existing))
        return true;
    if (!MayWrite(existing.kind, entry.path())) return true;
    vorx_SetUserData(archive_.handle, &tracker);
    // Where names ignore case no folder counts as fresh, so the file system was asked
    // (under any spelling); an entry of a name seen before was refused.
    return Write(entry, existing.kind != host::PathKind::Missing);
}

bool Extraction::Claim(const Entry& entry) {
    if (!entry.plan.refusal.empty()) {
        Failure("refused '" + entry.display + "': " + entry.plan.refusal, kExitFatal);
        return false;
    }
    if (!claimed_.insert(entry.plan.key).second) {
        Failure("refused '" + entry.display +
                    "': an earlier entry has this name (as Windows compares names, letter case "
                    "ignored), and one file cannot hold both",
                kExitFatal);
        return false;
    }
    return true;
}

bool Extraction::WalkTo(Entry* entry) {
    entry->fresh = folders_.made.count(outDir_) != 0;
    for (size_t step = 0; step + 1 < entry->plan.names.size(); ++step) {
        const std::string& path = entry->plan.paths[step];
        const auto known = folders_.open.find(path);
        if (known != folders_.open.end())
            entry->folder = known->second;
        else if (!StepInto(entry, step))
            return false;
        entry->fresh = folders_.made.count(path) != 0;
    }
    return true;
}

// Opens (or makes) folder `step` of the entry's way in the folder above it, and holds it
// for the entries after it.
bool Extraction::StepInto(Entry* entry, size_t step) {
    const std::string& path = entry->plan.paths[step];
    // A file of that name may still be waiting to be written.
    if (written_.count(path)) writer_.Drain();
    host::FolderPtr next;
    const host::Subfolder opened =
        host::OpenSubfolder(entry->folder, entry->plan.names[step], &next);
    if (opened == host::Subfolder::Link) {
        Failure("refused '" + entry->display + "': '" + path +
                    "' is a link, and extraction never follows one",
                kExitFatal);
        return false;
    }
    if (opened != host::Subfolder::Opened && opened != host::Subfolder::Made) {
        Failure(SystemFailure("cannot make the folder '" + path + "' for '" + entry->display + "'"),
                kExitFatal);
        return false;
    }
    if (folders_.open.size() >= kOpenFolders) folders_.open.clear();
    folders_.open.emplace(path, next);
    folders_.existing.insert(path);
    if (opened == host::Subfolder::Made && !host::NamesIgnoreCase()) folders_.made.insert(path);
    entry->folder = std::move(next);
    return true;
}

// What is at the entry's file now. In a folder this extraction made, only its own files
// and folders can be in the way; elsewhere the file system says what is there (a link of
// the file's name counts as a file: it is replaced, never followed).
host::PathStatus Extraction::Existing(const Entry& entry) const {
    if (!entry.fresh) return host::StatIn(*entry.folder, entry.leaf());
    host::PathStatus status;
    status.kind = folders_.existing.count(entry.path()) ? host::PathKind::Directory
                  : written_.count(entry.path())        ? host::PathKind::File
                                                        : host::PathKind::Missing;
    return status;
}

// Two names of the entries that differ as Windows compares names can still lead to one
// file: a file system may fold letters the comparison keeps apart, know a file by a
// short name too, or reach one folder by two ways. The later entry would replace the
// earlier one's file, so the file's identity decides, not its name: here for the files
// written so far (no question is asked about them), and again by the writer before it
// replaces a file, once the jobs before it are written.
bool Extraction::WroteEarlier(const Entry& entry, const host::PathStatus& existing) {
    if (!writer_.Wrote(existing)) return false;
    Failure(SharedFileFailure(entry.path()), kExitFatal);
    return true;
}

bool Extraction::MayWrite(host::PathKind existing, const std::string& path) {
    OverwriteDecision decision = DecideOverwrite(existing, policy_, canAsk_, Reply::NotAsked);
    while (decision.action == Action::Ask) {
        progress_.Done();
        decision = DecideOverwrite(existing, policy_, canAsk_, AskReplace(path));
    }
    policy_ = decision.policy;
    if (decision.action == Action::FolderInTheWay) {
        Failure("cannot write '" + path + "': a folder of that name exists", kExitFatal);
        return false;
    }
    if (decision.action == Action::Skip) {
        progress_.Done();
        Error("skipped '" + path + "': it exists (use -y to replace)");
        ++skipped_;
        exitCode_ = std::max(exitCode_, static_cast<int>(kExitWarning));
        return false;
    }
    return true;
}

// Each entry is decoded by its index, never found again by its name.
bool Extraction::Write(const Entry& entry, bool replace) {
    vorx_Error e = vorx_Success;
    const bool inMemory =
        entry.info.uncompressedSize <= kExtractInMemoryLimit && DecodeToMemory(entry, replace, &e);
    if (!inMemory && !DecodeToFile(entry, replace, &e)) return true;
    if (e != vorx_Success) {
        if (gInterrupted) return false;
        Failure("cannot extract '" + entry.display + "': " +
                    (e == vorx_PasswordRequired
                         ? std::string("it is encrypted: give the password with -p")
                         : LibraryFailure(e, entry.folder->path(), entry.info.uncompressedSize)),
                ExitForError(e));
        return true;
    }
    written_.insert(entry.path());
    progress_.Show(done_);
    return true;
}

// Decoded here (or ahead) while the writer's thread writes the files before it. False
// when there was no memory for it: the entry then goes through a file instead.
bool Extraction::DecodeToMemory(const Entry& entry, bool replace, vorx_Error* e) {
    uint8_t* data = nullptr;
    vorx::EntryRequest request;
    request.owned = &data;
    request.progress = &OnDecodeProgress;
    *e = decoder_.Extract(entry.index, archive_.Password(), request);
    FileJob job;
    job.data.reset(data);
    if (data == nullptr && *e == vorx_OutOfMemory) return false;
    job.folder = entry.folder;
    job.name = entry.leaf();
    job.path = entry.path();
    job.replace = replace;
    job.lastWriteSeconds = entry.info.lastWriteSeconds;
    // The bytes written are the bytes decoded: on success exactly the record's size.
    job.size = static_cast<size_t>(entry.info.uncompressedSize);
    if (*e == vorx_Success) writer_.Submit(std::move(job));
    return true;
}

// Decoded into a file of a fresh name beside the entry's, renamed into place when it is
// complete. False (reported) when the file system refuses either.
bool Extraction::DecodeToFile(const Entry& entry, bool replace, vorx_Error* e) {
    writer_.Drain();
    if (replace && WroteEarlier(entry, host::StatIn(*entry.folder, entry.leaf()))) return false;
    host::TemporaryFile temporary;
    if (!temporary.Create(entry.folder)) {
        Failure(SystemFailure("cannot write '" + entry.path() + "'"), kExitFatal);
        return false;
    }
    *e = DecodeToTemporary(decoder_, entry.index, entry.info, temporary, *entry.folder,
                           archive_.Password());
    if (*e == vorx_Success && !temporary.RenameTo(entry.leaf(), replace)) {
        Failure(SystemFailure("cannot write '" + entry.path() + "'"), kExitFatal);
        return false;
    }
    if (*e == vorx_Success) {
        ++extractedHere_;
        writer_.Note(host::StatIn(*entry.folder, entry.leaf()));
    }
    return true;
}

void Extraction::Failure(const std::string& message, int code) {
    progress_.Done();
    Error(message);
    ++failed_;
    exitCode_ = std::max(exitCode_, code);
}

void Extraction::ReportWriterFailures() {
    for (const std::string& failure : writer_.TakeFailures()) Failure(failure, kExitFatal);
}

int Extraction::Summary() {
    const size_t extracted = extractedHere_ + writer_.written();
    std::printf("%zu file%s extracted", extracted, extracted == 1 ? "" : "s");
    if (skipped_) std::printf(", %zu skipped", skipped_);
    if (failed_) std::printf(", %zu failed", failed_);
    std::printf("\n");
    return exitCode_;
}

}  // namespace

int Extract(const Options& o) {
    OpenArchive archive;
    if (const int e = Open(o, &archive)) return e;
    const std::string outDir = o.outDir ? *o.outDir : ".";
    FolderCache folders;
    if (const int e = MakeOutputFolder(outDir, &folders.made)) return e;
    folders.existing.insert(outDir);
    // The output folder may be a link; nothing below it is followed.
    host::FolderPtr root = host::OpenFolder(outDir);
    if (!root) return Fail(kExitFatal, SystemFailure("cannot open the folder '" + outDir + "'"));
    const EntryList list = SelectEntries(o, ReadEntries(archive.handle));
    if (list.error != vorx_Success) return ReportUnreadableEntry(archive.handle, list);
    Extraction extraction(o, archive, list, outDir, std::move(root), std::move(folders));
    return extraction.Run();
}

}  // namespace tool
