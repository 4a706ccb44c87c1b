// The self-extractor's window-free decisions. Every text operation here checks the
// room it writes into: a result that does not fit is refused, never cut.
#include "app/app_logic.h"

#include <cstring>

#include "container/name_policy.h"

namespace sfx {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Appends `length` bytes of `text` to the NUL-terminated `out`; false when they do not fit.
bool Append(char* out, size_t capacity, const char* text, size_t length) {
    const size_t used = std::strlen(out);
    if (length >= capacity - used) return false;
    std::memcpy(out + used, text, length);
    out[used + length] = '\0';
    return true;
}

bool Append(char* out, size_t capacity, const char* text) {
    return Append(out, capacity, text, std::strlen(text));
}

// File names as Windows compares them, for ASCII letters: case ignored; a "/" of the
// run command stands for the "\\" of an entry name.
char FoldNameChar(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    return c == '/' ? '\\' : c;
}

bool SameNames(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (FoldNameChar(a[i]) != FoldNameChar(b[i])) return false;
    return true;
}

}  // namespace

bool AppendBackslash(char* path, size_t capacity) {
    const size_t length = std::strlen(path);
    if (length > 0 && path[length - 1] == '\\') return true;
    return Append(path, capacity, "\\", 1);
}

bool GetDirectoryPart(char* out, size_t capacity, const char* path) {
    out[0] = '\0';
    const char* last = std::strrchr(path, '\\');
    if (last == nullptr) return true;
    return Append(out, capacity, path, static_cast<size_t>(last - path) + 1);
}

bool Compose(char* out, size_t capacity, const char* before, const char* text, const char* after) {
    out[0] = '\0';
    if (Append(out, capacity, before) && Append(out, capacity, text) &&
        Append(out, capacity, after))
        return true;
    out[0] = '\0';
    return false;
}

bool IsQuietTail(const char* tail) {
    return tail != nullptr && tail[0] == '/' && (tail[1] == 'q' || tail[1] == 'Q') &&
           tail[2] == '\0';
}

bool IsSilentTail(const char* tail) {
    if (tail == nullptr) return false;
    static const char kSilent[] = "/q /s";
    // Compared up to and including the terminating NUL, so nothing may follow.
    for (size_t i = 0; i < sizeof kSilent; ++i) {
        const char c =
            tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
        if (c != kSilent[i]) return false;
    }
    return true;
}

bool ModuleFolderOf(const char* modulePath, char* out, size_t capacity) {
    out[0] = '\0';
    size_t driveLength = 0;
    if (modulePath[0] != '\0' && modulePath[1] == ':') driveLength = 2;
    const char* directory = modulePath + driveLength;
    const char* lastSeparator = nullptr;
    for (const char* p = directory; *p != '\0'; ++p)
        if (IsSeparator(*p)) lastSeparator = p;
    const size_t directoryLength =
        lastSeparator ? static_cast<size_t>(lastSeparator - directory) + 1 : 0;
    if (!Append(out, capacity, modulePath, driveLength) ||
        !Append(out, capacity, directory, directoryLength)) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool SettleDestination(char (&destination)[kConfigFieldSize], const char* moduleFolder,
                       ExpandFn expand, void* context) {
    if (destination[0] == '\0') {
        // The module folder comes from a path of the same size, so it always fits.
        Append(destination, sizeof destination, moduleFolder);
        return true;
    }
    char expanded[kConfigFieldSize];
    const uint32_t needed = expand(context, destination, expanded, sizeof expanded);
    if (needed == kUnrepresentable) {
        destination[0] = '\0';
        return false;
    }
    // 0 is a failure; a size beyond the buffer means the expansion was not written whole.
    if (needed == 0 || needed > sizeof expanded) return true;
    expanded[sizeof expanded - 1] = '\0';
    std::memcpy(destination, expanded, sizeof expanded);
    return true;
}

bool IsSafeEntryName(const char* name, unsigned codePage) {
    return name != nullptr &&
           vorx::CheckEntryName(name, std::strlen(name), codePage) == vorx::NameProblem::None;
}

vorx_Error BuildOutputPath(char* out, size_t capacity, const char* destination, const char* name) {
    out[0] = '\0';
    if (!Append(out, capacity, destination) || !AppendBackslash(out, capacity) ||
        !Append(out, capacity, name)) {
        out[0] = '\0';
        return vorx_InvalidArgument;
    }
    return vorx_Success;
}

FolderWalk EnsureDirectory(char* folder, size_t capacity, size_t trustedLength,
                           const DirectoryOps& ops) {
    if (!AppendBackslash(folder, capacity)) return FolderWalk::TooLong;
    const size_t length = std::strlen(folder);
    size_t start = 0;
    // A network path's "\\server\share\" names no folder that could be created.
    if (length >= 2 && folder[0] == '\\' && folder[1] == '\\') {
        int separators = 0;
        while (start < length && separators < 4)
            if (folder[start++] == '\\') ++separators;
    }
    char prefix[kDestinationSize];
    for (size_t i = start; i < length; ++i) {
        if (folder[i] == ':') {
            ++i;  // the backslash behind a drive letter is the root: never tested or created
            continue;
        }
        if (folder[i] != '\\') continue;
        if (i + 1 >= sizeof prefix) return FolderWalk::TooLong;
        std::memcpy(prefix, folder, i + 1);
        prefix[i + 1] = '\0';
        const FolderState state = ops.Probe(ops.context, prefix);
        FolderWalk failure = FolderWalk::Done;
        if (state == FolderState::Link && i + 1 > trustedLength)
            failure = FolderWalk::ThroughLink;
        else if (state == FolderState::Missing && !ops.Create(ops.context, prefix))
            failure = FolderWalk::CannotCreate;
        if (failure != FolderWalk::Done) {
            folder[i + 1] = '\0';
            return failure;
        }
    }
    return FolderWalk::Done;
}

void ClearRunCandidates(RunCandidates& candidates) {
    std::memset(&candidates, 0, sizeof candidates);
}

void NoteWrittenEntry(RunCandidates& candidates, const char* runAfterExtract, const char* name) {
    const size_t nameLength = std::strlen(name);
    auto note = [&](const char* program, size_t length) {
        if (length == 0 || length >= kConfigFieldSize) return;
        if (nameLength == length && SameNames(program, name, length))
            candidates.written[length][0] = true;
        if (nameLength == length + 4 && SameNames(program, name, length) &&
            SameNames(".exe", name + length, 4))
            candidates.written[length][1] = true;
    };
    if (runAfterExtract[0] == '"') {
        const char* program = runAfterExtract + 1;
        const char* close = std::strchr(program, '"');
        note(program, close ? static_cast<size_t>(close - program) : std::strlen(program));
        return;
    }
    for (const char* p = runAfterExtract;; ++p) {
        if (*p != '\0' && !IsBlank(*p)) continue;
        note(runAfterExtract, static_cast<size_t>(p - runAfterExtract));
        if (*p == '\0') return;
    }
}

RunCommand ResolveRunCommand(const char* destination, const char* runAfterExtract,
                             const RunCandidates& candidates, char* program, size_t programCapacity,
                             char* commandLine, size_t capacity) {
    commandLine[0] = '\0';
    program[0] = '\0';
    char base[kDestinationSize + 1];
    base[0] = '\0';
    if (!Append(base, sizeof base, destination) || !AppendBackslash(base, sizeof base))
        return RunCommand::TooLong;

    const char* name = runAfterExtract;
    size_t nameLength = 0;
    const char* arguments = nullptr;
    bool withExe = false;
    // The entry written under this program length: as written first, else with ".exe".
    auto written = [&](size_t length) {
        if (length == 0 || length >= kConfigFieldSize) return false;
        for (int exe = 0; exe < 2; ++exe) {
            if (candidates.written[length][exe]) {
                withExe = exe != 0;
                return true;
            }
        }
        return false;
    };

    if (runAfterExtract[0] == '"') {
        name = runAfterExtract + 1;
        const char* close = std::strchr(name, '"');
        const size_t length = close ? static_cast<size_t>(close - name) : std::strlen(name);
        if (written(length)) {
            nameLength = length;
            arguments = close ? close + 1 : name + length;
        }
    } else {
        // Every break is tried; the last (longest) prefix that is a written entry wins,
        // and `withExe` is left as that match set it.
        for (const char* p = runAfterExtract;; ++p) {
            if (*p != '\0' && !IsBlank(*p)) continue;
            const size_t length = static_cast<size_t>(p - runAfterExtract);
            if (written(length)) {
                nameLength = length;
                arguments = p;
            }
            if (*p == '\0') break;
        }
    }
    if (arguments == nullptr) return RunCommand::NoProgram;
    while (IsBlank(*arguments)) ++arguments;

    const bool fits =
        Append(program, programCapacity, base) &&
        Append(program, programCapacity, name, nameLength) &&
        (!withExe || Append(program, programCapacity, ".exe")) &&
        Append(commandLine, capacity, "\"", 1) && Append(commandLine, capacity, program) &&
        Append(commandLine, capacity, "\"", 1) &&
        (*arguments == '\0' ||
         (Append(commandLine, capacity, " ", 1) && Append(commandLine, capacity, arguments)));
    if (!fits) {
        commandLine[0] = '\0';
        program[0] = '\0';
        return RunCommand::TooLong;
    }
    return RunCommand::Ready;
}

OverwriteAnswer OverwriteAnswerOf(int messageBoxResult) {
    switch (messageBoxResult) {
        case 6:
            return OverwriteAnswer::Replace;  // IDYES
        case 7:
            return OverwriteAnswer::Keep;  // IDNO
        case 2:
            return OverwriteAnswer::Stop;  // IDCANCEL
        default:
            return OverwriteAnswer::Unanswered;
    }
}

vorx_Error RunPasswordProtocol(const PasswordProtocolOps& ops) {
    vorx_Error result = ops.Extract(ops.context, nullptr);
    if (result != vorx_PasswordRequired) return result;
    if (const char* remembered = ops.Remembered(ops.context))
        result = ops.Extract(ops.context, remembered);
    char typed[kPathSize];
    while (result == vorx_CorruptArchive || result == vorx_CrcMismatch) {
        typed[0] = '\0';
        const intptr_t answer = ops.Prompt(ops.context, typed);
        if (answer != 1) return vorx_PasswordRequired;
        result = ops.Extract(ops.context, typed);
    }
    return result;
}

PageTexts PageTextsOf(int page) {
    switch (page) {
        case 0:
            return {"Comments", "Please read the following and push Next to continue"};
        case 1:
            return {"Select Destination",
                    "Please choose a destination for extraction and push Next"};
        case 2:
            return {"Extracting", "Please wait while the files are extracted ..."};
        default:
            return {"", ""};
    }
}

}  // namespace sfx
