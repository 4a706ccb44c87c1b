// vorx a: creates an archive or a self-extractor from files and folders.
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "container/format.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "tools/add_inputs.h"
#include "tools/add_write.h"
#include "tools/commands.h"
#include "tools/patterns.h"
#include "writer/archive_writer.h"
#include "writer/entry_names.h"
#include "writer/sfx_maker.h"

namespace tool {
namespace {

// The comment is shown on the self-extractor's first page: far less than this.
constexpr uint64_t kCommentLimit = 16u << 20;

// The stub's bytes: a program file of at most 64 MiB.
bool ReadStub(const std::string& path, std::vector<uint8_t>* image, std::string* error) {
    std::string bytes;
    if (!ReadSmallFile(path, uint64_t{64} << 20, &bytes, error, true)) return false;
    image->assign(bytes.begin(), bytes.end());
    return true;
}

// The stub that --sfx names: "win32" and "win64" are the stubs installed with the tool,
// beside it (as on Windows) or in <prefix>/share/vorx for <prefix>/bin/vorx; anything
// else is the path of a stub file (./win32 for a file of that name).
bool FindStub(const std::string& given, std::string* stub, std::string* error) {
    if (given != "win32" && given != "win64") {
        *stub = given;
        return true;
    }
    const std::string self = host::ExecutablePath();
    const size_t slash = self.find_last_of(std::string("/") + host::PathSeparator());
    if (slash == std::string::npos) {
        *error =
            "cannot tell where the tool is installed, so the " + given + " stub cannot be found";
        return false;
    }
    const std::string bin = self.substr(0, slash);
    const std::string file = "sfxstub-" + given + ".exe";
    const std::string candidates[] = {
        JoinPath(bin, file),
        JoinPath(JoinPath(JoinPath(JoinPath(bin, ".."), "share"), "vorx"), file),
    };
    for (const std::string& candidate : candidates) {
        if (host::Stat(candidate).kind == host::PathKind::File) {
            *stub = host::AbsolutePath(candidate);
            return true;
        }
    }
    *error = "the " + given + " stub is not installed: neither '" + candidates[0] + "' nor '" +
             candidates[1] + "' exists";
    return false;
}

// The password and the self-extractor's texts in the code page; a command-line error's
// exit code when one cannot be stored.
int ConvertTexts(const Options& o, std::optional<std::string>* password, vorx::SfxConfig* config) {
    if (o.password) {
        std::string converted;
        if (const int e = ToArchiveText(*o.password, o.codePage, "the password", &converted))
            return e;
        const std::string problem = vorx::PasswordProblem(converted);
        if (!problem.empty()) return Fail(kExitUsage, problem);
        *password = converted;
    }
    if (o.dest) {
        if (const int e = ToArchiveText(*o.dest, o.codePage, "--dest", &config->destination))
            return e;
    }
    if (o.run) {
        if (const int e = ToArchiveText(*o.run, o.codePage, "--run", &config->runAfterExtract))
            return e;
    }
    if (config->destination.size() > vorx::kMaxConfigText)
        return Fail(kExitUsage, "--dest has " + std::to_string(config->destination.size()) +
                                    " bytes; at most 255 fit");
    if (config->runAfterExtract.size() > vorx::kMaxConfigText)
        return Fail(kExitUsage, "--run has " + std::to_string(config->runAfterExtract.size()) +
                                    " bytes; at most 255 fit");
    return kExitOk;
}

// Everything the archive is made of, gathered and checked before anything is written.
struct Plan {
    Collected collected;
    std::string comment;  // as stored
    vorx::Bytes carrier;  // the stub, for a self-extractor
};

void Gather(const Options& o, const vorx::SfxConfig& config, Plan* plan) {
    std::vector<std::string> paths, listProblems;
    for (const std::string& path : o.paths) {
        std::string error;
        if (path.size() < 2 || path[0] != '@')
            paths.push_back(path);
        else if (!ReadListFile(path.substr(1), &paths, &error))
            listProblems.push_back("cannot read the list '" + path.substr(1) + "': " + error);
    }
    plan->collected = CollectInputs(o, paths, host::AbsolutePath(o.archive));
    std::vector<std::string>& problems = plan->collected.problems;
    problems.insert(problems.begin(), listProblems.begin(), listProblems.end());
    if (o.comment) {
        std::string raw, converted, error;
        if (!ReadSmallFile(*o.comment, kCommentLimit, &raw, &error))
            plan->collected.problems.push_back("cannot read the comment file '" + *o.comment +
                                               "': " + error);
        else if (!host::ToCodePage(raw, o.codePage, &converted, &error))
            plan->collected.problems.push_back("the comment cannot be stored: " + error);
        else
            plan->comment = vorx::CommentForArchive(converted);
    }
    if (o.sfx) {
        std::string stub, error;
        if (!FindStub(*o.sfx, &stub, &error))
            plan->collected.problems.push_back(error);
        else if (!ReadStub(stub, &plan->carrier, &error) ||
                 !vorx::FillConfigBlock(plan->carrier, config, &error))
            plan->collected.problems.push_back("the stub '" + stub + "': " + error);
    }
}

// The entries in the archive's order: the comment first, then the inputs.
std::vector<EntrySource> EntriesOf(const Options& o, const Plan& plan,
                                   const std::optional<std::string>& password) {
    std::vector<EntrySource> entries;
    if (o.comment) {
        EntrySource comment;
        comment.options.name = vorx::kCommentEntryName;
        comment.options.time = static_cast<uint64_t>(platform::CurrentTime());
        // Never encrypted: the self-extractor shows it before it asks for a password.
        comment.memory = plan.comment;
        entries.push_back(std::move(comment));
    }
    for (const Input& in : plan.collected.inputs) {
        EntrySource entry;
        entry.options.name = in.stored;
        entry.options.timeKind = vorx::kTimeUtcSeconds;
        entry.options.time = static_cast<uint64_t>(in.status.writeSeconds);
        entry.options.attributes = in.status.attributes;
        entry.options.password = password;
        entry.input = &in;
        entries.push_back(std::move(entry));
    }
    return entries;
}

void PrintSummary(const Options& o, const WriteOutcome& outcome, uint64_t archiveBytes,
                  uint64_t fileBytes) {
    std::printf("%s: %" PRIu64 " file%s, %" PRIu64 " bytes -> %" PRIu64 " bytes", o.archive.c_str(),
                outcome.files, outcome.files == 1 ? "" : "s", outcome.bytes, archiveBytes);
    if (outcome.bytes)
        std::printf(" (%.1f%%)",
                    100.0 * static_cast<double>(archiveBytes) / static_cast<double>(outcome.bytes));
    if (o.sfx) std::printf(", self-extractor of %" PRIu64 " bytes", fileBytes);
    std::printf("\n");
}

// Writes the archive into a fresh file beside ARCHIVE and renames it over ARCHIVE when it
// is complete; on any failure nothing is left.
int Write(const Options& o, const Plan& plan, const std::optional<std::string>& password) {
    host::TemporaryFile temporary;
    const std::string folder = host::ParentFolder(o.archive);
    if (!temporary.Create(host::OpenFolder(folder)))
        return Fail(kExitFatal, SystemFailure("cannot create a file beside '" + o.archive + "'"));
    vorx::ArchiveWriter writer(vorx::WriterOptions{o.codePage});
    auto abandon = [&](const std::string& message, int code) {
        Error(message);
        writer.Abandon();
        temporary.Remove();
        return code;
    };
    if (!writer.Attach(temporary.OpenForWriting()) ||
        (!plan.carrier.empty() && !writer.WriteCarrier(plan.carrier.data(), plan.carrier.size())) ||
        !writer.BeginArchive())
        return abandon(writer.FailedOnFile()
                           ? SystemFailure("cannot write '" + o.archive + "'", folder)
                           : "cannot write '" + o.archive + "': " + writer.Error(),
                       kExitFatal);

    const std::vector<EntrySource> entries = EntriesOf(o, plan, password);
    uint64_t total = 0;
    for (const EntrySource& e : entries) total += e.input ? e.input->status.size : e.memory.size();
    Progress progress(total);
    const WriteOutcome outcome =
        WriteEntries(entries, o.level, Threads(o), &writer, &progress, o.archive);
    progress.Done();
    if (!outcome.failure.empty()) return abandon(outcome.failure, outcome.exitCode);

    vorx::DirectoryOptions directory;
    if (o.encryptNames) directory.password = password;
    const uint64_t archiveStart = writer.ArchiveStart();
    if (!writer.Finish(directory))
        return abandon(
            SystemFailure("cannot write '" + o.archive + "'", folder, writer.Position(), true),
            kExitFatal);
    const uint64_t fileBytes = writer.Position();
    if (!temporary.RenameTo(host::LastComponent(o.archive))) {
        const std::string message = SystemFailure("cannot write '" + o.archive + "'");
        temporary.Remove();
        return Fail(kExitFatal, message);
    }
    PrintSummary(o, outcome, fileBytes - archiveStart, fileBytes);
    return outcome.exitCode;
}

}  // namespace

int Add(const Options& o) {
    // Everything that can be refused is refused before anything is written.
    if (!host::CodePageAvailable(o.codePage))
        return Fail(kExitUsage,
                    "code page " + std::to_string(o.codePage) + " is not available on this system");
    std::optional<std::string> password;
    vorx::SfxConfig config;
    if (const int e = ConvertTexts(o, &password, &config)) return e;

    const host::PathStatus outStatus = host::Stat(o.archive);
    if (outStatus.kind == host::PathKind::Directory)
        return Fail(kExitFatal, "'" + o.archive + "' is a folder");
    if (outStatus.kind != host::PathKind::Missing && !o.yes)
        return Fail(kExitFatal, "'" + o.archive + "' exists; add -y to replace it");

    Plan plan;
    Gather(o, config, &plan);
    for (const std::string& w : plan.collected.warnings) Error("warning: " + w);
    if (!plan.collected.problems.empty()) {
        for (const std::string& p : plan.collected.problems) Error(p);
        return Fail(kExitFatal, "nothing written");
    }
    const int code = Write(o, plan, password);
    return code == kExitOk && !plan.collected.warnings.empty() ? kExitWarning : code;
}

}  // namespace tool
