// The extraction worker thread.
#include "app/extract_worker.h"

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <new>

#include "app/password_dialog.h"
#include "app/res/resource.h"
#include "app/system_libraries.h"
#include "app/silent_mode.h"
#include "app/wizard_dialog.h"
#include "container/format.h"
#include "library/extract.h"
#include "library/parallel_decoder.h"
#include "platform/platform.h"
#include "platform/win32/held_folders.h"

namespace held = platform::held;

namespace {

// Room for the longest output path or command inside the fixed message texts.
constexpr size_t kTextChars = 2 * sfx::kOutputPathChars;

// Names compare as the system compares file names, case ignored by its own table.
bool SameNames(const wchar_t* a, const wchar_t* b, size_t length) {
    return CompareStringOrdinal(a, static_cast<int>(length), b, static_cast<int>(length), TRUE) ==
           CSTR_EQUAL;
}

sfx::FolderStep OpenFolderStep(void*, void* parent, const wchar_t* name, size_t length,
                               void** folder) {
    HANDLE opened = nullptr;
    switch (held::OpenSubfolder(static_cast<HANDLE>(parent), {name, length}, &opened)) {
        case held::Step::Opened:
        case held::Step::Made:
            *folder = opened;
            return sfx::FolderStep::Opened;
        case held::Step::Link:
            return sfx::FolderStep::Link;
        case held::Step::NotFolder:
            return sfx::FolderStep::NotFolder;
        case held::Step::Failed:
            break;
    }
    return sfx::FolderStep::Failed;
}

void CloseFolderStep(void*, void* folder) { CloseHandle(static_cast<HANDLE>(folder)); }

const sfx::FolderOps kFolderOps{nullptr, OpenFolderStep, CloseFolderStep};

// Random bits for the names of the files being written; a clock mix where the system's
// generator is missing (the names are created exclusively either way).
uint32_t RandomWord() {
    using GenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
    uint32_t word = 0;
    if (auto genRandom = SystemFunctionAs<GenRandomFn>("advapi32.dll", "SystemFunction036"))
        if (genRandom(&word, sizeof word)) return word;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<uint32_t>(counter.QuadPart) ^ (GetCurrentProcessId() << 16) ^ GetTickCount();
}

// One entry's extraction as seen by the password protocol.
struct EntryJob {
    ExtractWorker* worker;
    uint64_t index;
    const vorx_FileInfo* info;  // as enumerated
    HANDLE folder;              // held: where the file goes
    held::Name leaf;            // its name there
    bool replace;               // a file of that name exists, and is replaced
    HANDLE partial;             // the file being written; null when none
};

// Creates the file being written in the target's held folder, exclusively: nothing that
// exists under its name, not even a link, is opened. A new file is made under its own
// name; one that replaces another under a fresh name "~vxXXXXXXXX.tmp" beside it, renamed
// over it when complete. The job keeps the handle (to rename or remove the file); the
// library writes through a descriptor of its own.
int OpenPartialFile(void* context) {
    auto* job = static_cast<EntryJob*>(context);
    job->partial = nullptr;
    for (int attempt = 0; attempt < 16; ++attempt) {
        wchar_t temporary[] = L"~vx00000000.tmp";
        uint32_t word = RandomWord();
        for (int digit = 10; digit >= 3; --digit, word >>= 4)
            temporary[digit] = L"0123456789abcdef"[word & 15];
        bool taken = false;
        HANDLE file = held::CreateFileIn(
            job->folder, job->replace ? held::Name{temporary, 15} : job->leaf, &taken);
        if (file == nullptr && taken && job->replace) continue;
        HANDLE copy = nullptr;
        if (file == nullptr || !DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(),
                                                &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            break;
        const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_BINARY);
        if (descriptor >= 0) {
            job->partial = file;
            return descriptor;
        }
        CloseHandle(copy);
        held::RemoveOpenFile(file);
        CloseHandle(file);
        break;
    }
    return -1;
}

bool FreeBytesOf(void* context, uint64_t* bytes) {
    return held::FreeBytes(static_cast<EntryJob*>(context)->folder, bytes);
}

vorx_Error ExtractWith(void* context, const char* password) {
    auto* job = static_cast<EntryJob*>(context);
    job->partial = nullptr;
    // The entry is decoded by its index (never found again by its name), under the rules
    // of vorx_DecompressToFile; the room is asked of the held folder's volume.
    const vorx::FileOutput output{job, OpenPartialFile, FreeBytesOf};
    int descriptor = -1;
    vorx::EntryRequest request;
    request.rules = vorx::Rules::File;
    request.output = &output;
    request.descriptor = &descriptor;
    request.progress = OnExtractProgress;
    ExtractWorker* worker = job->worker;
    vorx_Error result =
        worker->Decoder ? worker->Decoder->Extract(job->index, password, request)
                        : vorx::ExtractEntryByIndex(worker->Archive, job->index, password, request);
    if (descriptor < 0) return result;
    result = vorx::FinishOutput(descriptor, job->info->lastWriteSeconds, result);
    // A complete replacement takes the target's name in one step, in the held folder: a
    // link or a hard link by that name is replaced, not written through.
    if (result == vorx_Success && job->replace &&
        !held::RenameOpenFile(job->partial, job->folder, job->leaf, true))
        result = vorx_InvalidArgument;
    uint64_t id = 0;
    if (result == vorx_Success && held::IdOf(job->partial, &id) && !job->worker->Files.Add(id))
        result = vorx_OutOfMemory;
    if (result != vorx_Success) held::RemoveOpenFile(job->partial);
    CloseHandle(job->partial);
    job->partial = nullptr;
    return result;
}

const char* RememberedPassword(void* context) {
    return static_cast<EntryJob*>(context)->worker->Passwords->GetRemembered();
}

intptr_t AskPassword(void* context, char (&buffer)[sfx::kPathSize]) {
    ExtractWorker* worker = static_cast<EntryJob*>(context)->worker;
    return worker->Passwords->Run(worker->Window, buffer, nullptr);
}

}  // namespace

void ExtractWorker::Init(vorx_Stream* archive, PasswordDialog& passwords,
                         const wchar_t* destination, const char* runAfterExtract) {
    Thread = nullptr;
    Window = nullptr;
    Passwords = &passwords;
    Archive = archive;
    Decoder = nullptr;
    OverwriteAll = 0;
    Cancelled.store(0, std::memory_order_relaxed);
    Result = vorx_Success;
    lstrcpynW(Destination, destination, sfx::kDestinationChars);
    // Converted once, strictly: bytes that are no text of the code page start nothing.
    RunCommandInvalid = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, runAfterExtract, -1,
                                            RunAfterExtract, sfx::kConfigFieldSize) == 0;
    if (RunCommandInvalid) RunAfterExtract[0] = L'\0';
    sfx::ClearRunCandidates(Written);
    Folders.folder[0] = nullptr;
    Folders.depth = 0;
}

bool ExtractWorker::Start(HWND window, bool overwriteAll) {
    Window = window;
    OverwriteAll = overwriteAll ? 1 : 0;
    Cancelled.store(0, std::memory_order_relaxed);
    Thread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    if (Thread == nullptr) Result = vorx_OutOfMemory;
    return Thread != nullptr;
}

void ExtractWorker::Cancel() {
    Cancelled.store(1, std::memory_order_relaxed);
    vorx_CancelOperation(Archive);
}

void ExtractWorker::Wait() {
    if (Thread != nullptr) WaitForSingleObject(Thread, INFINITE);
}

bool ExtractWorker::IsRunning() const {
    DWORD code = 0;
    return Thread != nullptr && GetExitCodeThread(Thread, &code) && code == STILL_ACTIVE;
}

vorx_Error ExtractWorker::ExtractEntry(uint64_t index, const vorx_FileInfo& info, HANDLE folder,
                                       const wchar_t* leaf, size_t length, bool replace) {
    EntryJob job{this, index, &info, folder, {leaf, length}, replace, nullptr};
    const sfx::PasswordProtocolOps ops{&job, ExtractWith, RememberedPassword, AskPassword};
    return sfx::RunPasswordProtocol(ops);
}

DWORD WINAPI ExtractWorker::ThreadMain(LPVOID worker) {
    auto* self = static_cast<ExtractWorker*>(worker);
    // One decoding thread per processor the process may use; with one, none is started
    // and every entry is decoded on this thread. The memory it may hold ahead is bounded
    // (README: the self-extractor).
    vorx::ParallelDecoder::Settings settings;
    const unsigned processors = platform::ProcessorCount();
    settings.threads = processors < kMaxDecodingThreads ? processors : kMaxDecodingThreads;
    settings.aheadRules = vorx::Rules::File;
    settings.skipComment = true;
    settings.entries = 32;
    settings.entryBytes = uint64_t{16} << 20;
    settings.blockBytes = uint64_t{48} << 20;
    self->Decoder = new (std::nothrow) vorx::ParallelDecoder(self->Archive, settings);
    self->ExtractAll();
    // Stops the decoding threads (within a block after a Cancel) before anything else;
    // the folders are let go before the program runs, which may move them.
    delete self->Decoder;
    self->Decoder = nullptr;
    self->ReleaseFolders();
    if (self->Cancelled.load(std::memory_order_relaxed)) {
        self->Result = vorx_InvalidArgument;
        return 0;  // no command is run and the wizard is not ended
    }
    self->Finish();
    return 0;
}

void ExtractWorker::DecodeAhead(uint64_t index) {
    if (!Decoder) return;
    // Encrypted entries are decoded ahead with the password that would be tried first.
    Decoder->SetAheadPassword(Passwords->GetRemembered());
    Decoder->Ahead(index);
}

void ExtractWorker::Report(vorx_Error code, const char* caption, UINT flags) {
    Result = code;
    ShowMessageBox(Window, vorx_GetErrorString(code), caption, flags);
}

bool ExtractWorker::HoldDestination() {
    if (Folders.folder[0] != nullptr) return true;
    // The destination is the person's choice: made with its parents, links followed.
    sfx::CreateDestination(Destination, nullptr,
                           [](void*, const wchar_t* path) { CreateDirectoryW(path, nullptr); });
    Folders.folder[0] = held::OpenFolderPath(Destination);
    Folders.depth = 0;
    return Folders.folder[0] != nullptr;
}

void ExtractWorker::ReleaseFolders() {
    sfx::ReleaseFolders(Folders, kFolderOps);
    if (Folders.folder[0] != nullptr) CloseHandle(static_cast<HANDLE>(Folders.folder[0]));
    Folders.folder[0] = nullptr;
}

void ExtractWorker::ExtractAll() {
    for (uint64_t index = 0; index < vorx_GetNumFiles(Archive); ++index) {
        if (Cancelled.load(std::memory_order_relaxed)) return;
        DecodeAhead(index);
        if (!ExtractIndex(index)) return;
    }
}

bool ExtractWorker::MayReplace(const wchar_t* outputPath, const wchar_t* name, uint64_t id,
                               bool identified) {
    wchar_t text[kTextChars];
    sfx::Compose(text, kTextChars, L"File ", outputPath, L" exists already, ovewrite it?");
    const int answer = ShowMessageBox(Window, text, L"Overwrite", MB_YESNOCANCEL | MB_ICONQUESTION);
    switch (sfx::OverwriteAnswerOf(answer)) {
        case sfx::OverwriteAnswer::Replace:
            return true;
        case sfx::OverwriteAnswer::Stop:
            Cancelled.store(1, std::memory_order_relaxed);
            return false;
        case sfx::OverwriteAnswer::Unanswered:
            // Nobody said Yes: the file stays, and the exit code tells.
            if (Result == vorx_Success) Result = vorx_EntryExists;
            break;
        case sfx::OverwriteAnswer::Keep:
            sfx::NoteWrittenEntry(Written, RunAfterExtract, name, SameNames);
            break;
    }
    // A kept file counts as this run's: a later entry of its name is not asked about.
    if (identified) Files.Add(id);
    return false;
}

// The name is judged as stored, then converted once (strictly) and split as UTF-16;
// a name that would leave the destination, or changes shape, is never written.
bool ExtractWorker::NameOf(const vorx_FileInfo& info, wchar_t (&name)[sfx::kMaxNameChars + 1],
                           sfx::NameParts* parts, wchar_t (&outputPath)[sfx::kOutputPathChars]) {
    const UINT codePage = GetACP();
    if (!sfx::IsSafeEntryName(info.name, codePage) ||
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, info.name, -1, name,
                            sfx::kMaxNameChars + 1) == 0 ||
        !sfx::SplitEntryName(info.name, codePage, name, parts)) {
        Report(vorx_CorruptArchive, "Error extracting", MB_OK);
        return false;
    }
    if (sfx::BuildOutputPath(outputPath, sfx::kOutputPathChars, Destination, name) !=
        vorx_Success) {
        Report(vorx_InvalidArgument, "Error extracting", MB_OK);
        return false;
    }
    return true;
}

bool ExtractWorker::HoldFoldersOf(const wchar_t* name, const sfx::NameParts& parts) {
    size_t stopped = 0;
    const sfx::FolderWalk walk = !HoldDestination()
                                     ? sfx::FolderWalk::CannotCreate
                                     : sfx::WalkFolders(Folders, name, parts, kFolderOps, &stopped);
    if (walk == sfx::FolderWalk::ThroughLink) {
        Result = vorx_WriteFailed;
        wchar_t text[kTextChars];
        wchar_t folder[sfx::kOutputPathChars];
        // The folder at fault, with its backslash.
        const size_t length = parts.start[stopped - 1] + parts.length[stopped - 1];
        std::memcpy(text, name, length * sizeof(wchar_t));
        text[length] = L'\\';
        text[length + 1] = L'\0';
        sfx::BuildOutputPath(folder, sfx::kOutputPathChars, Destination, text);
        sfx::Compose(text, kTextChars, L"Not extracted: ", folder,
                     L" is a link to another place (a junction or symbolic link) inside the "
                     L"destination folder, and nothing is written through it.");
        ShowMessageBox(Window, text, L"Error extracting", MB_ICONERROR);
        return false;
    }
    if (walk != sfx::FolderWalk::Done) {
        Result = vorx_WriteFailed;
        ShowMessageBox(nullptr, "Error creating directory", "Error",
                       MB_ICONERROR | MB_SETFOREGROUND);
        return false;
    }
    return true;
}

bool ExtractWorker::ExtractIndex(uint64_t index) {
    vorx_FileInfo info;
    vorx_Error code = vorx_EnumerateFiles(Archive, &info, index);
    if (code != vorx_Success) {
        Report(code, "Archive Enum Error", MB_ICONERROR);
        return false;
    }
    info.name[sizeof info.name - 1] = '\0';
    if (std::strcmp(info.name, vorx::kCommentEntryName) == 0) return true;

    wchar_t name[sfx::kMaxNameChars + 1];
    sfx::NameParts parts;
    wchar_t outputPath[sfx::kOutputPathChars];
    if (!NameOf(info, name, &parts, outputPath) || !HoldFoldersOf(name, parts)) return false;

    wchar_t text[kTextChars];
    if (Window != nullptr) {
        sfx::Compose(text, kTextChars, L"Current file: ", name, L"");
        SetDlgItemTextW(Window, IDC_STATUS, text);
    }

    const HANDLE folder = static_cast<HANDLE>(Folders.folder[Folders.depth]);
    const wchar_t* leaf = name + parts.start[parts.count - 1];
    const size_t leafLength = parts.length[parts.count - 1];
    const held::Status existing = held::StatusOf(folder, {leaf, leafLength});
    if (existing.exists && existing.identified && Files.Contains(existing.id)) {
        // Two entries, one file: the later one would silently replace the earlier one.
        Result = vorx_CorruptArchive;
        sfx::Compose(text, kTextChars, L"Not extracted: ", outputPath,
                     L" would replace the file of an earlier entry of the same name.");
        ShowMessageBox(Window, text, L"Error extracting", MB_ICONERROR);
        return false;
    }
    if (existing.exists && !OverwriteAll &&
        !MayReplace(outputPath, name, existing.id, existing.identified))
        return !Cancelled.load(std::memory_order_relaxed);

    code = ExtractEntry(index, info, folder, leaf, leafLength, existing.exists);
    // A decode that the user's cancel stopped is not an error to report.
    if (code != vorx_Success && Cancelled.load(std::memory_order_relaxed)) return false;
    if (code != vorx_Success) {
        Report(code, "Error extracting", MB_OK);
        return false;
    }
    sfx::NoteWrittenEntry(Written, RunAfterExtract, name, SameNames);
    return true;
}

void ExtractWorker::Finish() {
    if (RunAfterExtract[0] != L'\0' || RunCommandInvalid) {
        wchar_t program[sfx::kDestinationChars + sfx::kConfigFieldSize + 8];
        wchar_t commandLine[sfx::kDestinationChars + 2 * sfx::kConfigFieldSize + 8];
        wchar_t text[kTextChars];
        const auto resolved =
            RunCommandInvalid
                ? sfx::RunCommand::NoProgram
                : sfx::ResolveRunCommand(Destination, RunAfterExtract, Written, program,
                                         sizeof program / 2, commandLine, sizeof commandLine / 2);
        if (resolved == sfx::RunCommand::TooLong) {
            Report(vorx_InvalidArgument, "Error extracting", MB_OK);
        } else if (resolved == sfx::RunCommand::NoProgram) {
            // A file that this run did not write may have been put there by anyone.
            if (Result == vorx_Success) Result = vorx_NotFound;
            if (RunCommandInvalid)
                lstrcpynW(text, L"Nothing was started: the command is no text of the code page.",
                          kTextChars);
            else
                sfx::Compose(text, kTextChars, L"Nothing was started: \"", RunAfterExtract,
                             L"\" names no file that was extracted.");
            ShowMessageBox(Window, text, L"Error", MB_ICONERROR);
        } else {
            if (Window != nullptr) {
                sfx::Compose(text, kTextChars, L"Executing ", RunAfterExtract, L" ...");
                SetDlgItemTextW(Window, IDC_STATUS, text);
            }
            STARTUPINFOW startup;
            std::memset(&startup, 0, sizeof startup);
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process;
            std::memset(&process, 0, sizeof process);
            // The program is named exactly: the system neither searches for it nor
            // appends ".exe" to it.
            if (CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process)) {
                WaitForSingleObject(process.hProcess, INFINITE);
                CloseHandle(process.hProcess);
                CloseHandle(process.hThread);
            }
        }
    }
    if (Window != nullptr) EndDialog(Window, 1);
}

void VORX_CALL OnExtractProgress(void* userData, int percent) {
    if (userData == nullptr) return;
    auto* wizard = static_cast<WizardDialog*>(userData);
    SendDlgItemMessageA(wizard->Window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}
