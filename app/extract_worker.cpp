// The extraction worker thread.
#include "app/extract_worker.h"

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <sys/utime.h>
#include <time.h>

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

namespace {

// The walk's prefixes end in a backslash, which would make the system look through a
// link to what it points to: the attributes are asked of the name without it.
sfx::FolderState ProbeFolder(void*, const char* path) {
    char name[sfx::kDestinationSize];
    lstrcpynA(name, path, sizeof name);
    const int length = lstrlenA(name);
    if (length > 1 && name[length - 1] == '\\' && name[length - 2] != ':') name[length - 1] = '\0';
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) return sfx::FolderState::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return sfx::FolderState::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? sfx::FolderState::Folder
                                                   : sfx::FolderState::Missing;
}

// A file in the way of a folder is a failure; a folder made meanwhile by someone else is not.
bool CreateFolder(void* context, const char* path) {
    return CreateDirectoryA(path, nullptr) ||
           ProbeFolder(context, path) == sfx::FolderState::Folder;
}

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
    const char* outputPath;
    char partial[MAX_PATH];  // the file being written, beside the target; empty when none
};

// Creates a new file under a random name in the target's folder. CREATE_NEW does not
// open anything that exists, and with FILE_FLAG_OPEN_REPARSE_POINT not even through a
// link planted under that name.
int OpenPartialFile(void* context) {
    auto* job = static_cast<EntryJob*>(context);
    char folder[MAX_PATH];
    if (sfx::GetDirectoryPart(folder, sizeof folder, job->outputPath)) {
        for (int attempt = 0; attempt < 16; ++attempt) {
            char name[] = "~vx00000000.tmp";
            uint32_t word = RandomWord();
            for (int digit = 10; digit >= 3; --digit, word >>= 4)
                name[digit] = "0123456789abcdef"[word & 15];
            if (!sfx::Compose(job->partial, sizeof job->partial, folder, name, "")) break;
            HANDLE file = CreateFileA(
                job->partial, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
                if (descriptor >= 0) return descriptor;
                CloseHandle(file);
                DeleteFileA(job->partial);
                break;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
        }
    }
    job->partial[0] = '\0';
    return -1;
}

vorx_Error ExtractWith(void* context, const char* password) {
    auto* job = static_cast<EntryJob*>(context);
    job->partial[0] = '\0';
    // The entry is decoded by its index (never found again by its name), under the rules
    // of vorx_DecompressToFile.
    const vorx::FileOutput output{job, OpenPartialFile};
    int descriptor = -1;
    vorx::EntryRequest request;
    request.rules = vorx::Rules::File;
    request.outputPath = job->outputPath;
    request.output = &output;
    request.descriptor = &descriptor;
    request.progress = OnExtractProgress;
    ExtractWorker* worker = job->worker;
    vorx_Error result =
        worker->Decoder ? worker->Decoder->Extract(job->index, password, request)
                        : vorx::ExtractEntryByIndex(worker->Archive, job->index, password, request);
    if (descriptor < 0) return result;
    if (result == vorx_Success) {
        const __time64_t now = _time64(nullptr);
        __utimbuf64 times;
        times.actime = now;
        const int64_t lastWrite = job->info->lastWriteSeconds;
        times.modtime = lastWrite != 0 ? lastWrite : now;
        if (_futime64(descriptor, &times) != 0) result = vorx_ReadFailed;
    }
    // A file that cannot be closed may not hold what was written to it.
    if (_close(descriptor) != 0 && result == vorx_Success) result = vorx_WriteFailed;
    // The complete file takes the target's name in one step: a link or a hard link by
    // that name is replaced, not written through.
    if (result == vorx_Success &&
        !MoveFileExA(job->partial, job->outputPath, MOVEFILE_REPLACE_EXISTING))
        result = vorx_InvalidArgument;
    if (result != vorx_Success) DeleteFileA(job->partial);
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

void ExtractWorker::Init(vorx_Stream* archive, PasswordDialog& passwords, const char* destination,
                         const char* runAfterExtract) {
    Thread = nullptr;
    Window = nullptr;
    Passwords = &passwords;
    Archive = archive;
    Decoder = nullptr;
    OverwriteAll = 0;
    Cancelled.store(0, std::memory_order_relaxed);
    Result = vorx_Success;
    lstrcpynA(Destination, destination, sizeof Destination);
    lstrcpynA(RunAfterExtract, runAfterExtract, sizeof RunAfterExtract);
    sfx::ClearRunCandidates(Written);
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

vorx_Error ExtractWorker::ExtractEntry(uint64_t index, const vorx_FileInfo& info,
                                       const char* outputPath) {
    EntryJob job{this, index, &info, outputPath, {}};
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
    // Stops the decoding threads (within a block after a Cancel) before anything else.
    delete self->Decoder;
    self->Decoder = nullptr;
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

void ExtractWorker::ExtractAll() {
    char outputPath[sfx::kPathSize];
    char folder[sfx::kPathSize];
    // Room for the longest output path or command inside the fixed message texts.
    char text[2 * sfx::kPathSize];
    vorx_FileInfo info;
    const sfx::DirectoryOps folders{nullptr, ProbeFolder, CreateFolder};
    // The destination itself was chosen by the person; below it the archive decides.
    const size_t destinationLength = std::strlen(Destination);
    const size_t trustedLength =
        destinationLength +
        (destinationLength > 0 && Destination[destinationLength - 1] == '\\' ? 0 : 1);

    for (uint64_t index = 0; index < vorx_GetNumFiles(Archive); ++index) {
        if (Cancelled.load(std::memory_order_relaxed)) return;
        DecodeAhead(index);
        vorx_Error code = vorx_EnumerateFiles(Archive, &info, index);
        if (code != vorx_Success) return Report(code, "Archive Enum Error", MB_ICONERROR);
        info.name[sizeof info.name - 1] = '\0';
        if (std::strcmp(info.name, vorx::kCommentEntryName) == 0) continue;

        // A name that would leave the destination is never written.
        if (!sfx::IsSafeEntryName(info.name, GetACP()))
            return Report(vorx_CorruptArchive, "Error extracting", MB_OK);
        code = sfx::BuildOutputPath(outputPath, sizeof outputPath, Destination, info.name);
        if (code != vorx_Success) return Report(code, "Error extracting", MB_OK);

        sfx::GetDirectoryPart(folder, sizeof folder, outputPath);
        const sfx::FolderWalk walk =
            sfx::EnsureDirectory(folder, sizeof folder, trustedLength, folders);
        if (walk == sfx::FolderWalk::ThroughLink) {
            Result = vorx_WriteFailed;
            sfx::Compose(text, sizeof text, "Not extracted: ", folder,
                         " is a link to another place (a junction or symbolic link) inside the "
                         "destination folder, and nothing is written through it.");
            ShowMessageBox(Window, text, "Error extracting", MB_ICONERROR);
            return;
        }
        if (walk != sfx::FolderWalk::Done) {
            Result = vorx_WriteFailed;
            ShowMessageBox(nullptr, "Error creating directory", "Error",
                           MB_ICONERROR | MB_SETFOREGROUND);
            return;
        }

        if (Window != nullptr) {
            sfx::Compose(text, sizeof text, "Current file: ", info.name, "");
            SetDlgItemTextA(Window, IDC_STATUS, text);
        }

        if (!OverwriteAll && GetFileAttributesA(outputPath) != INVALID_FILE_ATTRIBUTES) {
            sfx::Compose(text, sizeof text, "File ", outputPath, " exists already, ovewrite it?");
            const int answer =
                ShowMessageBox(Window, text, "Overwrite", MB_YESNOCANCEL | MB_ICONQUESTION);
            switch (sfx::OverwriteAnswerOf(answer)) {
                case sfx::OverwriteAnswer::Replace:
                    break;
                case sfx::OverwriteAnswer::Keep:
                    sfx::NoteWrittenEntry(Written, RunAfterExtract, info.name);
                    continue;
                case sfx::OverwriteAnswer::Stop:
                    Cancelled.store(1, std::memory_order_relaxed);
                    return;
                case sfx::OverwriteAnswer::Unanswered:
                    // Nobody said Yes: the file stays, and the exit code tells.
                    if (Result == vorx_Success) Result = vorx_EntryExists;
                    continue;
            }
        }

        code = ExtractEntry(index, info, outputPath);
        // A decode that the user's cancel stopped is not an error to report.
        if (code != vorx_Success && Cancelled.load(std::memory_order_relaxed)) return;
        if (code != vorx_Success) return Report(code, "Error extracting", MB_OK);
        sfx::NoteWrittenEntry(Written, RunAfterExtract, info.name);
    }
}

void ExtractWorker::Finish() {
    if (RunAfterExtract[0] != '\0') {
        char program[sfx::kDestinationSize + sfx::kConfigFieldSize + 8];
        char commandLine[3 * sfx::kPathSize];
        char text[2 * sfx::kPathSize];
        const auto resolved =
            sfx::ResolveRunCommand(Destination, RunAfterExtract, Written, program, sizeof program,
                                   commandLine, sizeof commandLine);
        if (resolved == sfx::RunCommand::TooLong) {
            Report(vorx_InvalidArgument, "Error extracting", MB_OK);
        } else if (resolved == sfx::RunCommand::NoProgram) {
            // A file that this run did not write may have been put there by anyone.
            if (Result == vorx_Success) Result = vorx_NotFound;
            sfx::Compose(text, sizeof text, "Nothing was started: \"", RunAfterExtract,
                         "\" names no file that was extracted.");
            ShowMessageBox(Window, text, "Error", MB_ICONERROR);
        } else {
            if (Window != nullptr) {
                sfx::Compose(text, sizeof text, "Executing ", RunAfterExtract, " ...");
                SetDlgItemTextA(Window, IDC_STATUS, text);
            }
            STARTUPINFOA startup;
            std::memset(&startup, 0, sizeof startup);
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process;
            std::memset(&process, 0, sizeof process);
            // The program is named exactly: the system neither searches for it nor
            // appends ".exe" to it.
            if (CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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
