// vorx a: creates an archive or a self-extractor from files and folders.
#include <cinttypes>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "container/format.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "writer/archive_writer.h"
#include "writer/compressor.h"
#include "writer/entry_names.h"
#include "writer/sfx_maker.h"

namespace tool {
namespace {

using vorx::Bytes;

constexpr size_t kReadPiece = 1u << 20;

bool ReadWholeFile(const std::string& path, std::string* out) {
    const int fd = host::OpenForReading(path);
    if (fd < 0) return false;
    out->clear();
    char buffer[65536];
    for (;;) {
        const int64_t n = platform::FileRead(fd, buffer, sizeof buffer);
        if (n < 0) {
            platform::FileClose(fd);
            return false;
        }
        if (n == 0) break;
        out->append(buffer, static_cast<size_t>(n));
    }
    platform::FileClose(fd);
    return true;
}

struct Input {
    std::string hostPath;
    std::string stored;   // entry name in the code page
    std::string display;  // name as the user wrote it
    host::PathStatus status;
};

struct Collector {
    const Options& options;
    std::string outputAbsolute;
    std::vector<Input> inputs;
    std::vector<std::string> problems;
    std::vector<std::string> warnings;

    void AddName(const std::string& hostPath, const std::string& display,
                 const host::PathStatus& st) {
        Input in{hostPath, "", display, st};
        std::string converted, error;
        if (!host::ToCodePage(display, options.codePage, &converted, &error)) {
            problems.push_back("'" + display + "': " + error);
            return;
        }
        // '\' is the archive's separator: a host name that holds one cannot be stored.
        // (Where it is the host's separator too, no name holds one; and there a
        // double-byte character of the ANSI code page may hold the byte 0x5C.)
        if (host::PathSeparator() == '/' && display.find('\\') != std::string::npos) {
            problems.push_back("'" + display +
                               "': the name has a '\\', which Windows takes for a separator");
            return;
        }
        in.stored = converted;
        for (char& c : in.stored)
            if (c == '/') c = '\\';
        const std::string problem = vorx::EntryNameProblem(in.stored, options.codePage);
        if (!problem.empty()) {
            problems.push_back("'" + display + "': " + problem);
            return;
        }
        inputs.push_back(std::move(in));
    }

    void Walk(const std::string& hostPath, const std::string& display, int depth) {
        const host::PathStatus st = host::Stat(hostPath);
        if (st.kind == host::PathKind::File) {
            if (host::AbsolutePath(hostPath) == outputAbsolute) return;  // the archive itself
            AddName(hostPath, display, st);
        } else if (st.kind == host::PathKind::Directory) {
            if (st.isLink && depth > 0) {
                warnings.push_back("'" + hostPath + "': a link to a folder, not followed");
                return;
            }
            if (depth > 256) {
                problems.push_back("'" + hostPath + "': folders nested too deeply");
                return;
            }
            std::vector<std::string> names;
            if (!host::ListDirectory(hostPath, &names)) {
                problems.push_back("cannot read the folder '" + hostPath + "'");
                return;
            }
            for (const std::string& name : names)
                Walk(JoinPath(hostPath, name), display + "/" + name, depth + 1);
        } else if (st.kind == host::PathKind::Other) {
            warnings.push_back("'" + hostPath + "': not a regular file, skipped");
        } else if (depth > 0 && host::NameLostCharacters(hostPath)) {
            problems.push_back("'" + hostPath +
                               "': the name cannot be read as text (a lone UTF-16 surrogate)");
        } else {
            problems.push_back("cannot find '" + hostPath + "'");
        }
    }
};

// Two entries that Windows would take for one file (letter case; a file where another
// entry needs a folder) would lose one of them there: both names are refused.
void RefuseWindowsCollisions(const std::vector<Input>& inputs, unsigned codePage,
                             std::vector<std::string>* problems) {
    std::map<std::string, const Input*> files, folders;
    std::vector<std::string> keys;
    for (const Input& in : inputs) {
        // The key is built from the name's UTF-8 form, where '\\' is always a separator.
        std::string host, utf8, error;
        if (!host::FromCodePage(in.stored, codePage, &host, &error) ||
            !host::ToCodePage(host, 65001, &utf8, &error))
            utf8 = in.stored;
        keys.push_back(vorx::WindowsNameKey(utf8));
        for (size_t end = keys.back().find('\\'); end != std::string::npos;
             end = keys.back().find('\\', end + 1))
            folders.emplace(keys.back().substr(0, end), &in);
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        const Input& in = inputs[i];
        const auto [file, added] = files.emplace(keys[i], &in);
        const auto folder = folders.find(keys[i]);
        if (!added && file->second->stored == in.stored)
            problems->push_back("'" + in.display + "': two entries would have this name");
        else if (!added)
            problems->push_back("'" + in.display + "': Windows takes it for the same file as '" +
                                file->second->display + "'");
        else if (folder != folders.end())
            problems->push_back("'" + in.display +
                                "': Windows cannot hold this file beside the folder of '" +
                                folder->second->display + "'");
    }
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

}  // namespace

int Add(const Options& o) {
    // Everything that can be refused is refused before anything is written.
    if (!host::CodePageAvailable(o.codePage))
        return Fail(kExitUsage,
                    "code page " + std::to_string(o.codePage) + " is not available on this system");
    std::optional<std::string> password;
    if (o.password) {
        std::string converted;
        if (const int e = ToArchiveText(*o.password, o.codePage, "the password", &converted))
            return e;
        const std::string problem = vorx::PasswordProblem(converted);
        if (!problem.empty()) return Fail(kExitUsage, problem);
        password = converted;
    }
    vorx::SfxConfig config;
    if (o.dest) {
        if (const int e = ToArchiveText(*o.dest, o.codePage, "--dest", &config.destination))
            return e;
    }
    if (o.run) {
        if (const int e = ToArchiveText(*o.run, o.codePage, "--run", &config.runAfterExtract))
            return e;
    }
    if (config.destination.size() > vorx::kMaxConfigText)
        return Fail(kExitUsage, "--dest has " + std::to_string(config.destination.size()) +
                                    " bytes; at most 255 fit");
    if (config.runAfterExtract.size() > vorx::kMaxConfigText)
        return Fail(kExitUsage, "--run has " + std::to_string(config.runAfterExtract.size()) +
                                    " bytes; at most 255 fit");

    const host::PathStatus outStatus = host::Stat(o.archive);
    if (outStatus.kind == host::PathKind::Directory)
        return Fail(kExitFatal, "'" + o.archive + "' is a folder");
    if (outStatus.kind != host::PathKind::Missing && !o.yes)
        return Fail(kExitFatal, "'" + o.archive + "' exists; add -y to replace it");

    Collector collector{o, host::AbsolutePath(o.archive), {}, {}, {}};
    for (const std::string& path : o.paths) {
        const std::string absolute = host::AbsolutePath(path);
        const std::string base = BaseName(absolute);
        if (base.empty()) return Fail(kExitFatal, "'" + path + "' has no name to store it under");
        collector.Walk(path, base, 0);
    }
    RefuseWindowsCollisions(collector.inputs, o.codePage, &collector.problems);

    std::string comment;
    if (o.comment) {
        std::string raw, converted, error;
        if (!ReadWholeFile(*o.comment, &raw)) {
            collector.problems.push_back("cannot read the comment file '" + *o.comment + "'");
        } else if (!host::ToCodePage(raw, o.codePage, &converted, &error)) {
            collector.problems.push_back("the comment cannot be stored: " + error);
        } else {
            comment = vorx::CommentForArchive(converted);
        }
    }

    Bytes carrier;
    if (o.sfx) {
        std::string stub, error;
        if (!FindStub(*o.sfx, &stub, &error))
            collector.problems.push_back(error);
        else if (!vorx::PrepareStub(host::LibraryPath(stub).c_str(), config, &carrier, &error))
            collector.problems.push_back("the stub '" + stub + "': " + error);
    }

    for (const std::string& w : collector.warnings) Error("warning: " + w);
    if (!collector.problems.empty()) {
        for (const std::string& p : collector.problems) Error(p);
        return Fail(kExitFatal, "nothing written");
    }

    // Written under a fresh name beside the archive and renamed over it when complete.
    host::TemporaryFile temporary;
    if (!temporary.Create(host::OpenFolder(host::ParentFolder(o.archive))))
        return Fail(kExitFatal, "cannot create a file beside '" + o.archive + "'");
    vorx::ArchiveWriter writer;
    vorx::Compressor compressor(o.level);
    auto abandon = [&](const std::string& message, int code) {
        if (!message.empty()) Error(message);
        writer.Abandon();
        temporary.Remove();
        return code;
    };
    if (!writer.Create(host::LibraryPath(temporary.path())))
        return abandon("cannot create '" + o.archive + "'", kExitFatal);
    if (!carrier.empty() && !writer.WriteCarrier(carrier.data(), carrier.size()))
        return abandon(writer.Error(), kExitFatal);
    if (!writer.BeginArchive()) return abandon(writer.Error(), kExitFatal);

    uint64_t total = comment.size();
    for (const Input& in : collector.inputs) total += in.status.size;
    Progress progress(total);
    uint64_t done = 0;
    int exitCode = kExitOk;

    if (o.comment) {
        vorx::EntryOptions entry;
        entry.name = vorx::kCommentEntryName;
        entry.time = static_cast<uint64_t>(platform::CurrentTime());
        entry.encoder = compressor.AsBlockEncoder();
        // Never encrypted: the self-extractor shows it before it asks for a password.
        if (!writer.AddEntry(entry, comment.data(), comment.size()))
            return abandon(writer.Error(), kExitFatal);
        done += comment.size();
    }

    std::vector<uint8_t> buffer(kReadPiece);
    uint64_t added = 0, originalBytes = 0;
    for (const Input& in : collector.inputs) {
        progress.SetFile(in.display);
        const int fd = host::OpenForReading(in.hostPath);
        if (fd < 0) {
            progress.Done();
            Error("warning: cannot open '" + in.hostPath + "', skipped");
            exitCode = kExitWarning;
            continue;
        }
        vorx::EntryOptions entry;
        entry.name = in.stored;
        entry.timeKind = vorx::kTimeUtcSeconds;
        entry.time = static_cast<uint64_t>(in.status.writeSeconds);
        entry.attributes = in.status.attributes;
        entry.password = password;
        entry.encoder = compressor.AsBlockEncoder();
        bool ok = writer.BeginEntry(entry);
        while (ok) {
            if (gInterrupted) {
                platform::FileClose(fd);
                progress.Done();
                return abandon("interrupted; nothing written", kExitInterrupted);
            }
            const int64_t n = platform::FileRead(fd, buffer.data(), buffer.size());
            if (n < 0) {
                platform::FileClose(fd);
                progress.Done();
                return abandon("cannot read '" + in.hostPath + "'; nothing written", kExitFatal);
            }
            if (n == 0) break;
            ok = writer.Write(buffer.data(), static_cast<size_t>(n));
            done += static_cast<uint64_t>(n);
            originalBytes += static_cast<uint64_t>(n);
            progress.Show(done);
        }
        platform::FileClose(fd);
        if (!ok || !writer.EndEntry()) {
            progress.Done();
            return abandon(writer.Error(), kExitFatal);
        }
        ++added;
    }
    vorx::DirectoryOptions directory;
    if (o.encryptNames) directory.password = password;
    const uint64_t archiveStart = writer.ArchiveStart();
    if (!writer.Finish(directory)) {
        progress.Done();
        return abandon(writer.Error(), kExitFatal);
    }
    progress.Done();
    const host::PathStatus written = host::Stat(temporary.path());
    if (!temporary.RenameTo(host::LastComponent(o.archive))) {
        temporary.Remove();
        return Fail(kExitFatal, "cannot write '" + o.archive + "'");
    }
    const uint64_t archiveBytes = written.size - archiveStart;
    std::printf("%s: %" PRIu64 " file%s, %" PRIu64 " bytes -> %" PRIu64 " bytes", o.archive.c_str(),
                added, added == 1 ? "" : "s", originalBytes, archiveBytes);
    if (originalBytes)
        std::printf(" (%.1f%%)",
                    100.0 * static_cast<double>(archiveBytes) / static_cast<double>(originalBytes));
    if (o.sfx) std::printf(", self-extractor of %" PRIu64 " bytes", written.size);
    std::printf("\n");
    return exitCode;
}

}  // namespace tool
