// Start-up of the self-extractor: settles the destination from the configuration block,
// opens the archive appended to this executable (asking once for its password when the
// archive demands one), then extracts quietly ("/q") or through the wizard.
//
// The process exit code tells a script what happened: 0 when the archive opened and
// every entry was extracted or deliberately skipped, otherwise the code that stopped
// the run (the open's code, the failed entry's code, 2 when the user cancelled or a
// path was refused), 5 when an overwrite question could not be shown, 4 when the run
// command names no file that the run extracted.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include "app/app_logic.h"
#include "app/code_page.h"
#include "app/config_block.h"
#include "app/extract_worker.h"
#include "app/password_dialog.h"
#include "app/silent_mode.h"
#include "app/system_libraries.h"
#include "app/wizard_dialog.h"
#include "library/completeness.h"
#include "library/vorx.h"

namespace {

constexpr char kModulePathRefused[] =
    "The path of this program is too long or has characters that this system's code page "
    "cannot represent, so it cannot open itself safely. Copy it to a folder with a short "
    "plain name and start it from there.";
constexpr char kDestinationRefusedQuiet[] =
    "The configured destination folder has characters that this system's code page cannot "
    "represent. Nothing was extracted.";
constexpr char kDestinationRefusedWizard[] =
    "The configured destination folder has characters that this system's code page cannot "
    "represent. Please choose a folder on the next page.";

// The expansion is made in wide characters and kept only when the code page holds it
// exactly.
uint32_t ExpandEnvironment(void*, const char* source, char* destination, uint32_t size) {
    wchar_t wideSource[sfx::kConfigFieldSize];
    if (MultiByteToWideChar(CP_ACP, 0, source, -1, wideSource, sfx::kConfigFieldSize) == 0)
        return 0;
    wchar_t expanded[MAX_PATH];
    const DWORD needed = ExpandEnvironmentStringsW(wideSource, expanded, MAX_PATH);
    if (needed == 0) return 0;
    if (needed > MAX_PATH) return size + 1;  // does not fit: kept as written
    switch (ToAnsiPath(expanded, destination, size)) {
        case AnsiPath::Exact:
            return static_cast<uint32_t>(lstrlenA(destination) + 1);
        case AnsiPath::TooLong:
            return size + 1;
        case AnsiPath::Unrepresentable:
            break;
    }
    return sfx::kUnrepresentable;
}

constexpr char kIncomplete[] =
    "This self-extractor is incomplete: its file was cut short, probably while it was "
    "downloaded or copied. Please download it again.";

// Whether this program's own file ends before what it holds: its image and the archive
// behind it. Such a file is not trusted at all.
bool IsCutShort() {
    wchar_t self[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return false;
    HANDLE file =
        CreateFileW(self, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(file);
        return false;
    }
    const bool cut = vorx::CheckCompleteness(descriptor).cutShort;
    _close(descriptor);
    return cut;
}

int ReportOpenFailure(vorx_Error code) {
    ShowMessageBox(nullptr, vorx_GetErrorString(code), "Error opening file", MB_ICONERROR);
    return code;
}

// The executable's own full path, taken in wide characters; false when neither it nor
// its short (8.3) form fits `path` and is represented exactly in the code page, since
// an approximated text would name another file.
bool ModulePath(char (&path)[sfx::kPathSize]) {
    wchar_t wide[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, wide, MAX_PATH + 1);
    path[0] = '\0';
    if (length == 0 || length > MAX_PATH) return false;
    if (ToAnsiPath(wide, path, sizeof path) == AnsiPath::Exact) return true;
    // Where the volume keeps short names, they name the same file in plain characters.
    wchar_t shortPath[MAX_PATH + 1];
    const DWORD shortLength = GetShortPathNameW(wide, shortPath, MAX_PATH + 1);
    return shortLength > 0 && shortLength <= MAX_PATH &&
           ToAnsiPath(shortPath, path, sizeof path) == AnsiPath::Exact;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    RestrictDllSearch();
    // "/q /s" is "/q" without any window: decided before anything could be shown.
    const bool silent = sfx::IsSilentTail(commandTail);
    if (silent) EnableSilentMode();

    PasswordDialog passwords;
    passwords.Init(instance);

    // A path that does not fit or cannot be represented could only name another file:
    // refused before anything is opened.
    char path[sfx::kPathSize];
    if (!ModulePath(path)) {
        ShowMessageBox(nullptr, kModulePathRefused, "Error opening file", MB_ICONERROR);
        return vorx_InvalidArgument;
    }

    if (IsCutShort()) {
        ShowMessageBox(nullptr, kIncomplete, "Error opening file", MB_ICONERROR);
        return vorx_ReadFailed;
    }

    // Whatever the block holds, each field is read only up to its last byte.
    vorx::ConfigBlock& config = g_ConfigBlock;
    config.destination[sizeof config.destination - 1] = '\0';
    config.runAfterExtract[sizeof config.runAfterExtract - 1] = '\0';
    // The folder that holds the executable, ending in a backslash.
    char moduleFolder[sfx::kPathSize];
    if (!sfx::ModuleFolderOf(path, moduleFolder, sizeof moduleFolder)) moduleFolder[0] = '\0';
    const bool quiet = silent || sfx::IsQuietTail(commandTail);
    if (!sfx::SettleDestination(config.destination, moduleFolder, ExpandEnvironment, nullptr)) {
        // Quietly there is nobody to choose another folder; the wizard asks for one.
        ShowMessageBox(nullptr, quiet ? kDestinationRefusedQuiet : kDestinationRefusedWizard,
                       "Error", MB_ICONERROR);
        if (quiet) return vorx_InvalidArgument;
    }

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
    if (quiet) {
        worker.Init(archive, passwords, config.destination, config.runAfterExtract);
        if (worker.Start(nullptr, false))
            worker.Wait();
        else
            ShowMessageBox(nullptr, vorx_GetErrorString(worker.Result), "Error extracting", MB_OK);
        exitCode = worker.Result;
    } else {
        using InitFn = void(WINAPI*)();
        if (auto initCommonControls =
                SystemFunctionAs<InitFn>("comctl32.dll", "InitCommonControls"))
            initCommonControls();
        worker.Init(archive, passwords, config.destination, config.runAfterExtract);
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
