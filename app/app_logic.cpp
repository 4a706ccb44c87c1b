// The self-extractor's window-free decisions. Every text operation here checks the
// room it writes into: a result that does not fit is refused, never cut.
#include "app/app_logic.h"

#include <cstring>
#include <initializer_list>

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

// A component that Windows would resolve to the parent folder: only dots and blanks
// (trailing dots and blanks are dropped by the system), with at least two dots.
bool IsParentComponent(const char* begin, const char* end) {
    size_t dots = 0;
    for (const char* p = begin; p != end; ++p) {
        if (*p == '.') ++dots;
        else if (!IsBlank(*p)) return false;
    }
    return dots >= 2;
}

// Writes base + candidate (+ ".exe") into `path`; false when it does not fit.
bool CandidatePath(char* path, size_t capacity, const char* base, const char* program,
                   size_t programLength, bool withExe) {
    path[0] = '\0';
    return Append(path, capacity, base) && Append(path, capacity, program, programLength) &&
           (!withExe || Append(path, capacity, ".exe"));
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
    if (Append(out, capacity, before) && Append(out, capacity, text) && Append(out, capacity, after))
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
        const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
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

void SettleDestination(char (&destination)[kConfigFieldSize], const char* moduleFolder,
                       ExpandFn expand, void* context) {
    if (destination[0] == '\0') {
        // The module folder comes from a path of the same size, so it always fits.
        destination[0] = '\0';
        Append(destination, sizeof destination, moduleFolder);
        return;
    }
    char expanded[kConfigFieldSize];
    const uint32_t needed = expand(context, destination, expanded, sizeof expanded);
    // 0 is a failure; a size beyond the buffer means the expansion was not written whole.
    if (needed == 0 || needed > sizeof expanded) return;
    expanded[sizeof expanded - 1] = '\0';
    std::memcpy(destination, expanded, sizeof expanded);
}

bool IsSafeEntryName(const char* name) {
    if (name == nullptr || name[0] == '\0' || IsSeparator(name[0])) return false;
    if (std::strchr(name, ':') != nullptr) return false;
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || IsSeparator(*p)) {
            if (IsParentComponent(component, p)) return false;
            if (*p == '\0') return true;
            component = p + 1;
        }
    }
}

vorx_Error BuildOutputPath(char* out, size_t capacity, const char* destination,
                           const char* name) {
    out[0] = '\0';
    if (!Append(out, capacity, destination) || !AppendBackslash(out, capacity) ||
        !Append(out, capacity, name)) {
        out[0] = '\0';
        return vorx_InvalidArgument;
    }
    return vorx_Success;
}

bool EnsureDirectory(char* folder, size_t capacity, const DirectoryOps& ops) {
    if (!AppendBackslash(folder, capacity)) return false;
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
        if (i + 1 >= sizeof prefix) return false;
        std::memcpy(prefix, folder, i + 1);
        prefix[i + 1] = '\0';
        if (!ops.Exists(ops.context, prefix) && !ops.Create(ops.context, prefix)) return false;
    }
    return true;
}

RunCommand ResolveRunCommand(const char* destination, const char* runAfterExtract,
                             FileExistsFn exists, void* context, char* commandLine,
                             size_t capacity) {
    commandLine[0] = '\0';
    char base[kDestinationSize + 1];
    base[0] = '\0';
    if (!Append(base, sizeof base, destination) || !AppendBackslash(base, sizeof base))
        return RunCommand::TooLong;

    const char* program = runAfterExtract;
    size_t programLength = 0;
    const char* arguments = nullptr;
    bool withExe = false;
    char candidate[2 * kPathSize + 8];
    bool found = false;

    auto tryProgram = [&](const char* name, size_t nameLength) {
        for (bool exe : {false, true}) {
            if (CandidatePath(candidate, sizeof candidate, base, name, nameLength, exe) &&
                exists(context, candidate)) {
                withExe = exe;
                return true;
            }
        }
        return false;
    };

    if (runAfterExtract[0] == '"') {
        program = runAfterExtract + 1;
        const char* close = std::strchr(program, '"');
        programLength = close ? static_cast<size_t>(close - program) : std::strlen(program);
        arguments = close ? close + 1 : program + programLength;
        found = programLength > 0 && tryProgram(program, programLength);
    } else {
        for (const char* p = runAfterExtract;; ++p) {
            if (*p != '\0' && !IsBlank(*p)) continue;
            programLength = static_cast<size_t>(p - runAfterExtract);
            if (programLength > 0 && tryProgram(program, programLength)) {
                arguments = p;
                found = true;
                break;
            }
            if (*p == '\0') break;
        }
    }
    if (!found) return RunCommand::NoProgram;
    while (IsBlank(*arguments)) ++arguments;

    const bool fits = Append(commandLine, capacity, "\"", 1) &&
                      Append(commandLine, capacity, base) &&
                      Append(commandLine, capacity, program, programLength) &&
                      (!withExe || Append(commandLine, capacity, ".exe")) &&
                      Append(commandLine, capacity, "\"", 1) &&
                      (*arguments == '\0' || (Append(commandLine, capacity, " ", 1) &&
                                              Append(commandLine, capacity, arguments)));
    if (!fits) {
        commandLine[0] = '\0';
        return RunCommand::TooLong;
    }
    return RunCommand::Ready;
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
    case 0: return {"Comments", "Please read the following and push Next to continue"};
    case 1:
        return {"Select Destination", "Please choose a destination for extraction and push Next"};
    case 2: return {"Extracting", "Please wait while the files are extracted ..."};
    default: return {"", ""};
    }
}

}  // namespace sfx
