// The extraction worker thread.
#include "app/extract_worker.h"

#include <commctrl.h>

#include <cstring>

#include "app/password_dialog.h"
#include "app/res/resource.h"
#include "app/silent_mode.h"
#include "app/wizard_dialog.h"

namespace {

constexpr char kCommentEntry[] = "$comments$";

bool IsFolder(void*, const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(void*, const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file in the way of a folder is a failure; a folder made meanwhile by someone else is not.
bool CreateFolder(void* context, const char* path) {
    return CreateDirectoryA(path, nullptr) || IsFolder(context, path);
}

// One entry's extraction as seen by the password protocol.
struct EntryJob {
    ExtractWorker* worker;
    const char* name;
    const char* outputPath;
};

vorx_Error ExtractWith(void* context, const char* password) {
    auto* job = static_cast<EntryJob*>(context);
    return vorx_DecompressToFile(job->worker->Archive, job->name, job->outputPath,
                                 OnExtractProgress, password);
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
                         const char* destination, const char* runAfterExtract) {
    Thread = nullptr;
    Window = nullptr;
    Passwords = &passwords;
    Archive = archive;
    OverwriteAll = 0;
    Cancelled.store(0, std::memory_order_relaxed);
    Result = vorx_Success;
    lstrcpynA(Destination, destination, sizeof Destination);
    lstrcpynA(RunAfterExtract, runAfterExtract, sizeof RunAfterExtract);
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

vorx_Error ExtractWorker::ExtractEntry(const char* name, const char* outputPath) {
    EntryJob job{this, name, outputPath};
    const sfx::PasswordProtocolOps ops{&job, ExtractWith, RememberedPassword, AskPassword};
    return sfx::RunPasswordProtocol(ops);
}

DWORD WINAPI ExtractWorker::ThreadMain(LPVOID worker) {
    auto* self = static_cast<ExtractWorker*>(worker);
    self->ExtractAll();
    if (self->Cancelled.load(std::memory_order_relaxed)) {
        self->Result = vorx_InvalidArgument;
        return 0;  // no command is run and the wizard is not ended
    }
    self->Finish();
    return 0;
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
    const sfx::DirectoryOps folders{nullptr, IsFolder, CreateFolder};

    for (uint64_t index = 0; index < vorx_GetNumFiles(Archive); ++index) {
        if (Cancelled.load(std::memory_order_relaxed)) return;
        vorx_Error code = vorx_EnumerateFiles(Archive, &info, index);
        if (code != vorx_Success) return Report(code, "Archive Enum Error", MB_ICONERROR);
        info.name[sizeof info.name - 1] = '\0';
        if (std::strcmp(info.name, kCommentEntry) == 0) continue;

        // A name that would leave the destination is never written.
        if (!sfx::IsSafeEntryName(info.name))
            return Report(vorx_CorruptArchive, "Error extracting", MB_OK);
        code = sfx::BuildOutputPath(outputPath, sizeof outputPath, Destination, info.name);
        if (code != vorx_Success) return Report(code, "Error extracting", MB_OK);

        sfx::GetDirectoryPart(folder, sizeof folder, outputPath);
        if (!sfx::EnsureDirectory(folder, sizeof folder, folders)) {
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
            const int answer = ShowMessageBox(Window, text, "Overwrite", MB_YESNOCANCEL | MB_ICONQUESTION);
            if (answer == IDNO) continue;
            if (answer == IDCANCEL) {
                Cancelled.store(1, std::memory_order_relaxed);
                return;
            }
        }

        code = ExtractEntry(info.name, outputPath);
        // A decode that the user's cancel stopped is not an error to report.
        if (code != vorx_Success && Cancelled.load(std::memory_order_relaxed)) return;
        if (code != vorx_Success) return Report(code, "Error extracting", MB_OK);
    }
}

void ExtractWorker::Finish() {
    if (RunAfterExtract[0] != '\0') {
        char commandLine[3 * sfx::kPathSize];
        const auto resolved =
            sfx::ResolveRunCommand(Destination, RunAfterExtract, FileExists, nullptr,
                                   commandLine, sizeof commandLine);
        if (resolved == sfx::RunCommand::TooLong) {
            Report(vorx_InvalidArgument, "Error extracting", MB_OK);
        } else if (resolved == sfx::RunCommand::Ready) {
            if (Window != nullptr) {
                char text[2 * sfx::kPathSize];
                sfx::Compose(text, sizeof text, "Executing ", RunAfterExtract, " ...");
                SetDlgItemTextA(Window, IDC_STATUS, text);
            }
            STARTUPINFOA startup;
            std::memset(&startup, 0, sizeof startup);
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process;
            std::memset(&process, 0, sizeof process);
            if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process)) {
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
