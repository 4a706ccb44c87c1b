// Start-up of the self-extractor: settles the destination from the configuration block,
// opens the archive appended to this executable (asking once for its password when the
// archive demands one), then extracts quietly ("/q") or through the wizard.
//
// The process exit code tells a script what happened: 0 when the archive opened and
// every entry was extracted or deliberately skipped, otherwise the code that stopped
// the run (the open's code, the failed entry's code, 2 when the user cancelled).
#include <windows.h>

#include "app/app_logic.h"
#include "app/config_block.h"
#include "app/extract_worker.h"
#include "app/password_dialog.h"
#include "app/silent_mode.h"
#include "app/system_libraries.h"
#include "app/wizard_dialog.h"
#include "library/vorx.h"

namespace {

uint32_t ExpandEnvironment(void*, const char* source, char* destination, uint32_t size) {
    return ExpandEnvironmentStringsA(source, destination, size);
}

int ReportOpenFailure(vorx_Error code) {
    ShowMessageBox(nullptr, vorx_GetErrorString(code), "Error opening file", MB_ICONERROR);
    return code;
}

// The executable's own full path; false when it does not fit `path`.
bool ModulePath(char (&path)[sfx::kPathSize]) {
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path;
}

}  // namespace

// The folder that holds the executable, ending in a backslash; empty when the
// executable's path does not fit.
void GetModuleFolder(char (&folder)[sfx::kPathSize]) {
    char path[sfx::kPathSize];
    if (!ModulePath(path) || !sfx::ModuleFolderOf(path, folder, sizeof folder)) folder[0] = '\0';
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    RestrictDllSearch();
    // "/q /s" is "/q" without any window: decided before anything could be shown.
    const bool silent = sfx::IsSilentTail(commandTail);
    if (silent) EnableSilentMode();

    PasswordDialog passwords;
    passwords.Init(instance);

    // Whatever the block holds, each field is read only up to its last byte.
    ConfigBlock& config = g_ConfigBlock;
    config.DefaultDestination[sizeof config.DefaultDestination - 1] = '\0';
    config.RunAfterExtract[sizeof config.RunAfterExtract - 1] = '\0';
    char moduleFolder[sfx::kPathSize];
    GetModuleFolder(moduleFolder);
    sfx::SettleDestination(config.DefaultDestination, moduleFolder, ExpandEnvironment, nullptr);

    // A path that does not fit could only name another file: refused.
    char path[sfx::kPathSize];
    if (!ModulePath(path)) return ReportOpenFailure(vorx_InvalidArgument);

    vorx_Stream* archive = nullptr;
    vorx_Error result = vorx_OpenStream(&archive, path, nullptr, vorx_OpenReadOnly);
    if (result == vorx_PasswordRequired) {
        char password[sfx::kPathSize] = {};
        if (passwords.Run(nullptr, password,
                          "This archive is protected, please enter the password for it below") == 1)
            result = vorx_OpenStream(&archive, path, password, vorx_OpenReadOnly);
        SecureZeroMemory(password, sizeof password);
    }
    if (result != vorx_Success) return ReportOpenFailure(result);

    ExtractWorker worker;
    int exitCode;
    if (silent || sfx::IsQuietTail(commandTail)) {
        worker.Init(archive, passwords, config.DefaultDestination, config.RunAfterExtract);
        if (worker.Start(nullptr, false))
            worker.Wait();
        else
            ShowMessageBox(nullptr, vorx_GetErrorString(worker.Result), "Error extracting", MB_OK);
        exitCode = worker.Result;
    } else {
        using InitFn = void(WINAPI*)();
        if (auto initCommonControls = SystemFunctionAs<InitFn>("comctl32.dll", "InitCommonControls"))
            initCommonControls();
        worker.Init(archive, passwords, config.DefaultDestination, config.RunAfterExtract);
        WizardDialog wizard;
        const INT_PTR ended = wizard.Run(instance, archive, worker);
        // After a confirmed Cancel the worker stops at its next block; the archive is
        // closed only once it has let go of it.
        worker.Wait();
        if (worker.WasStarted() || worker.Result != vorx_Success)
            exitCode = worker.Result;
        else  // cancelled before the extraction began, or no dialog at all
            exitCode = ended == -1 ? vorx_Unknown : vorx_InvalidArgument;
    }
    if (worker.Thread != nullptr) CloseHandle(worker.Thread);
    vorx_CloseStream(archive);
    return exitCode;
}
