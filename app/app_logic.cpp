// The self-extractor's window-free decisions. Paths and names are UTF-16 units, split
// and compared as such, never as bytes of a code page. Every text operation here checks
// the room it writes into: a result that does not fit is refused, never cut.
#include "app/app_logic.h"

#include <cstdlib>
#include <cstring>

#include "container/name_policy.h"

namespace sfx {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

size_t Length(const wchar_t* text) {
    size_t length = 0;
    while (text[length] != L'\0') ++length;
    return length;
}

// Appends `length` units of `text` to the NUL-terminated `out`; false when they do not fit.
bool Append(wchar_t* out, size_t capacity, const wchar_t* text, size_t length) {
    const size_t used = Length(out);
    if (length >= capacity - used) return false;
    std::memcpy(out + used, text, length * sizeof(wchar_t));
    out[used + length] = L'\0';
    return true;
}

bool Append(wchar_t* out, size_t capacity, const wchar_t* text) {
    return Append(out, capacity, text, Length(text));
}

const wchar_t* Find(const wchar_t* text, wchar_t c) {
    for (; *text != L'\0'; ++text)
        if (*text == c) return text;
    return nullptr;
}

}  // namespace

bool AppendBackslash(wchar_t* path, size_t capacity) {
    const size_t length = Length(path);
    if (length > 0 && path[length - 1] == L'\\') return true;
    return Append(path, capacity, L"\\", 1);
}

bool Compose(wchar_t* out, size_t capacity, const wchar_t* before, const wchar_t* text,
             const wchar_t* after) {
    out[0] = L'\0';
    if (Append(out, capacity, before) && Append(out, capacity, text) &&
        Append(out, capacity, after))
        return true;
    out[0] = L'\0';
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

bool ModuleFolderOf(const wchar_t* modulePath, wchar_t* out, size_t capacity) {
    out[0] = L'\0';
    size_t folderLength = 0;
    for (size_t i = 0; modulePath[i] != L'\0'; ++i)
        if (IsSeparator(modulePath[i]) || (i == 1 && modulePath[i] == L':')) folderLength = i + 1;
    if (!Append(out, capacity, modulePath, folderLength)) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

void SettleDestination(wchar_t (&destination)[kDestinationChars], const wchar_t* moduleFolder,
                       ExpandFn expand, void* context) {
    if (destination[0] == L'\0') {
        Append(destination, kDestinationChars, moduleFolder);
        return;
    }
    wchar_t expanded[kDestinationChars];
    const uint32_t needed = expand(context, destination, expanded, kDestinationChars);
    // 0 is a failure; a size beyond the buffer means the expansion was not written whole.
    if (needed == 0 || needed > kDestinationChars) return;
    expanded[kDestinationChars - 1] = L'\0';
    std::memcpy(destination, expanded, sizeof expanded);
}

bool IsSafeEntryName(const char* name, unsigned codePage) {
    return name != nullptr &&
           vorx::CheckEntryName(name, std::strlen(name), codePage) == vorx::NameProblem::None;
}

bool SplitEntryName(const char* stored, unsigned codePage, const wchar_t* wide, NameParts* parts) {
    size_t components = 0;
    const size_t storedLength = std::strlen(stored);
    for (size_t start = 0; start < storedLength; ++components)
        start = vorx::ComponentEnd(stored, storedLength, start, codePage) + 1;
    parts->count = 0;
    const size_t length = Length(wide);
    if (length > kMaxNameChars) return false;
    for (size_t start = 0; start <= length;) {
        size_t end = start;
        while (end < length && wide[end] != L'\\') {
            const wchar_t c = wide[end];
            if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == L'/') return false;
            ++end;
        }
        const size_t n = end - start;
        const bool dots = n <= 2 && wide[start] == L'.' && (n == 1 || wide[start + 1] == L'.');
        if (n == 0 || dots || parts->count == kMaxComponents) return false;
        parts->start[parts->count] = static_cast<uint16_t>(start);
        parts->length[parts->count] = static_cast<uint16_t>(n);
        ++parts->count;
        start = end + 1;
    }
    return parts->count == components;
}

vorx_Error BuildOutputPath(wchar_t* out, size_t capacity, const wchar_t* destination,
                           const wchar_t* name) {
    out[0] = L'\0';
    if (!Append(out, capacity, destination) || !AppendBackslash(out, capacity) ||
        !Append(out, capacity, name)) {
        out[0] = L'\0';
        return vorx_InvalidArgument;
    }
    return vorx_Success;
}

void CreateDestination(const wchar_t* destination, void* context,
                       void (*create)(void* context, const wchar_t* path)) {
    const size_t length = Length(destination);
    if (length >= kDestinationChars) return;
    size_t start = 0;
    // A network path's "\\server\share\" (or "\\?\UNC\server\share\") names no folder
    // that could be made; nor does a drive's root.
    if (length >= 2 && IsSeparator(destination[0]) && IsSeparator(destination[1])) {
        const bool unc = length >= 8 && (destination[2] == L'?' || destination[2] == L'.') &&
                         (destination[4] == L'U' || destination[4] == L'u');
        int separators = 0;
        while (start < length && separators < (unc ? 6 : 4))
            if (IsSeparator(destination[start++])) ++separators;
        if (!unc && length >= 4 && (destination[2] == L'?' || destination[2] == L'.')) start = 4;
    }
    wchar_t prefix[kDestinationChars];
    for (size_t i = start; i <= length; ++i) {
        if (i < length && !IsSeparator(destination[i])) continue;
        // The root ("C:") and an empty component (a doubled or final separator) are no
        // folder to make.
        if (i == start || destination[i - 1] == L':' || IsSeparator(destination[i - 1])) continue;
        std::memcpy(prefix, destination, i * sizeof(wchar_t));
        prefix[i] = L'\0';
        create(context, prefix);
    }
}

FolderWalk WalkFolders(HeldFolders& held, const wchar_t* name, const NameParts& parts,
                       const FolderOps& ops, size_t* stopped) {
    const size_t folders = parts.count - 1;
    // The folders the previous walk holds that this name shares, component by component.
    size_t kept = 0;
    while (kept < held.depth && kept < folders && parts.length[kept] == held.parts.length[kept] &&
           std::memcmp(name + parts.start[kept], held.name + held.parts.start[kept],
                       parts.length[kept] * sizeof(wchar_t)) == 0)
        ++kept;
    while (held.depth > kept) ops.Close(ops.context, held.folder[held.depth--]);
    std::memcpy(held.name, name, (Length(name) + 1) * sizeof(wchar_t));
    held.parts = parts;
    for (size_t i = kept; i < folders; ++i) {
        void* next = nullptr;
        const FolderStep step =
            ops.Open(ops.context, held.folder[i], name + parts.start[i], parts.length[i], &next);
        if (step != FolderStep::Opened) {
            *stopped = i + 1;
            return step == FolderStep::Link ? FolderWalk::ThroughLink : FolderWalk::CannotCreate;
        }
        held.folder[++held.depth] = next;
    }
    return FolderWalk::Done;
}

void ReleaseFolders(HeldFolders& held, const FolderOps& ops) {
    while (held.depth > 0) ops.Close(ops.context, held.folder[held.depth--]);
}

FileIdSet::~FileIdSet() { std::free(slots_); }

bool FileIdSet::Contains(uint64_t id) const {
    if (id == 0) return zero_;
    for (size_t i = capacity_ ? id % capacity_ : 0; capacity_ && slots_[i] != 0;
         i = (i + 1) % capacity_)
        if (slots_[i] == id) return true;
    return false;
}

bool FileIdSet::Add(uint64_t id) {
    if (id == 0) return zero_ = true;
    if (Contains(id)) return true;
    if (2 * (count_ + 1) > capacity_) {
        // Rehashed into twice the room: at most half the slots are ever taken.
        const size_t capacity = capacity_ ? 2 * capacity_ : 64;
        auto* slots = static_cast<uint64_t*>(std::calloc(capacity, sizeof(uint64_t)));
        if (slots == nullptr) return false;
        for (size_t i = 0; i < capacity_; ++i) {
            if (slots_[i] == 0) continue;
            size_t k = slots_[i] % capacity;
            while (slots[k] != 0) k = (k + 1) % capacity;
            slots[k] = slots_[i];
        }
        std::free(slots_);
        slots_ = slots;
        capacity_ = capacity;
    }
    size_t i = id % capacity_;
    while (slots_[i] != 0) i = (i + 1) % capacity_;
    slots_[i] = id;
    ++count_;
    return true;
}

void ClearRunCandidates(RunCandidates& candidates) {
    std::memset(&candidates, 0, sizeof candidates);
}

void NoteWrittenEntry(RunCandidates& candidates, const wchar_t* runAfterExtract,
                      const wchar_t* name, SameNamesFn same) {
    const size_t nameLength = Length(name);
    // The command as names are compared: a '/' there stands for the '\' of a name.
    wchar_t command[kConfigFieldSize];
    size_t commandLength = 0;
    for (; runAfterExtract[commandLength] != L'\0' && commandLength + 1 < kConfigFieldSize;
         ++commandLength) {
        const wchar_t c = runAfterExtract[commandLength];
        command[commandLength] = c == L'/' ? L'\\' : c;
    }
    command[commandLength] = L'\0';
    auto note = [&](const wchar_t* program, size_t length) {
        if (length == 0 || length >= kConfigFieldSize) return;
        if (nameLength == length && same(program, name, length))
            candidates.written[length][0] = true;
        if (nameLength == length + 4 && same(program, name, length) &&
            same(L".exe", name + length, 4))
            candidates.written[length][1] = true;
    };
    if (command[0] == L'"') {
        const wchar_t* program = command + 1;
        const wchar_t* close = Find(program, L'"');
        note(program, close ? static_cast<size_t>(close - program) : Length(program));
        return;
    }
    for (const wchar_t* p = command;; ++p) {
        if (*p != L'\0' && !IsBlank(*p)) continue;
        note(command, static_cast<size_t>(p - command));
        if (*p == L'\0') return;
    }
}

RunCommand ResolveRunCommand(const wchar_t* destination, const wchar_t* runAfterExtract,
                             const RunCandidates& candidates, wchar_t* program,
                             size_t programCapacity, wchar_t* commandLine, size_t capacity) {
    commandLine[0] = L'\0';
    program[0] = L'\0';
    wchar_t base[kDestinationChars + 1];
    base[0] = L'\0';
    if (!Append(base, sizeof base / sizeof base[0], destination) ||
        !AppendBackslash(base, sizeof base / sizeof base[0]))
        return RunCommand::TooLong;

    const wchar_t* name = runAfterExtract;
    size_t nameLength = 0;
    const wchar_t* arguments = nullptr;
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

    if (runAfterExtract[0] == L'"') {
        name = runAfterExtract + 1;
        const wchar_t* close = Find(name, L'"');
        const size_t length = close ? static_cast<size_t>(close - name) : Length(name);
        if (written(length)) {
            nameLength = length;
            arguments = close ? close + 1 : name + length;
        }
    } else {
        // Every break is tried; the last (longest) prefix that is a written entry wins,
        // and `withExe` is left as that match set it.
        for (const wchar_t* p = runAfterExtract;; ++p) {
            if (*p != L'\0' && !IsBlank(*p)) continue;
            const size_t length = static_cast<size_t>(p - runAfterExtract);
            if (written(length)) {
                nameLength = length;
                arguments = p;
            }
            if (*p == L'\0') break;
        }
    }
    if (arguments == nullptr) return RunCommand::NoProgram;
    while (IsBlank(*arguments)) ++arguments;

    const bool fits =
        Append(program, programCapacity, base) &&
        Append(program, programCapacity, name, nameLength) &&
        (!withExe || Append(program, programCapacity, L".exe")) &&
        Append(commandLine, capacity, L"\"", 1) && Append(commandLine, capacity, program) &&
        Append(commandLine, capacity, L"\"", 1) &&
        (*arguments == L'\0' ||
         (Append(commandLine, capacity, L" ", 1) && Append(commandLine, capacity, arguments)));
    if (!fits) {
        commandLine[0] = L'\0';
        program[0] = L'\0';
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
