// Start-up of the self-extractor: settles the destination from the configuration block,
// opens the archive appended to this executable (asking once for its password when the
// archive demands one), then extracts quietly ("/q") or through the wizard.
//
// Paths are UTF-16 throughout: the program's own path, the destination (the configured
// bytes converted once from the ANSI code page, then expanded), and the archive, which
// is opened here and handed to the library as a descriptor.
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
#include "app/config_block.h"
#include "app/extract_worker.h"
#include "app/password_dialog.h"
#include "app/silent_mode.h"
#include "app/system_libraries.h"
#include "app/wizard_dialog.h"
#include "library/completeness.h"
#include "library/extract.h"
#include "library/vorx.h"

namespace {

// The program's own path: as long as a path may be without the long-path prefix, so
// that its folder, the default destination, fits the destination's room.
constexpr DWORD kModuleChars = MAX_PATH + 1;

constexpr char kModulePathRefused[] =
    "The path of this program is too long: start it from a folder with a shorter path.";
constexpr char kDestinationRefused[] =
    "The configured destination folder is no text of this system's code page.";

uint32_t ExpandEnvironment(void*, const wchar_t* source, wchar_t* destination, uint32_t size) {
    return ExpandEnvironmentStringsW(source, destination, size);
}

constexpr char kIncomplete[] =
    "This self-extractor is incomplete: its file was cut short, probably while it was "
    "downloaded or copied. Please download it again.";

int ReportOpenFailure(vorx_Error code) {
    ShowMessageBox(nullptr, vorx_GetErrorString(code), "Error opening file", MB_ICONERROR);
    return code;
}

// This executable opened by its UTF-16 path, as a descriptor for the library (which
// would take a path in the ANSI code page); -1 when it cannot be opened.
int OpenSelf(const wchar_t* path) {
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) CloseHandle(file);
    return descriptor;
}

// The archive appended to this executable, open as `self`: its password asked for once
// when the archive demands one.
vorx_Error OpenOwnArchive(int self, PasswordDialog& passwords, vorx_Stream** archive) {
    vorx_Error result = vorx::OpenStreamOnFile(archive, self, nullptr, vorx_OpenReadOnly);
    if (result != vorx_PasswordRequired) return result;
    char password[sfx::kPathSize] = {};
    if (passwords.Run(nullptr, password,
                      "This archive is protected, please enter the password for it below") == 1)
        result = vorx::OpenStreamOnFile(archive, self, password, vorx_OpenReadOnly);
    SecureZeroMemory(password, sizeof password);
    return result;
}

// "/q": the worker runs without a window. Returns the exit code.
int ExtractQuietly(ExtractWorker& worker) {
    if (worker.Start(nullptr, false))
        worker.Wait();
    else
        ShowMessageBox(nullptr, vorx_GetErrorString(worker.Result), "Error extracting", MB_OK);
    return worker.Result;
}

// The wizard, which starts the worker on its last page. Returns the exit code.
int ExtractInWizard(HINSTANCE instance, ExtractWorker& worker) {
    using InitFn = void(WINAPI*)();
    if (auto initCommonControls = SystemFunctionAs<InitFn>("comctl32.dll", "InitCommonControls"))
        initCommonControls();
    WizardDialog wizard;
    const INT_PTR ended = wizard.Run(instance, worker.Archive, worker);
    // After a confirmed Cancel the worker stops at its next block; the archive is
    // closed only once it has let go of it.
    worker.Wait();
    if (worker.WasStarted() || worker.Result != vorx_Success) return worker.Result;
    // Cancelled before the extraction began, or no dialog at all.
    return ended == -1 ? vorx_Unknown : vorx_InvalidArgument;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    RestrictDllSearch();
    // "/q /s" is "/q" without any window: decided before anything could be shown.
    const bool silent = sfx::IsSilentTail(commandTail);
    if (silent) EnableSilentMode();

    PasswordDialog passwords;
    passwords.Init(instance);

    wchar_t path[kModuleChars];
    const DWORD pathLength = GetModuleFileNameW(nullptr, path, kModuleChars);
    if (pathLength == 0 || pathLength >= kModuleChars) {
        ShowMessageBox(nullptr, kModulePathRefused, "Error opening file", MB_ICONERROR);
        return vorx_InvalidArgument;
    }

    // A file that ends before its image and the archive behind it is not trusted at all.
    const int self = OpenSelf(path);
    if (self >= 0 && vorx::CheckCompleteness(self).cutShort) {
        _close(self);
        ShowMessageBox(nullptr, kIncomplete, "Error opening file", MB_ICONERROR);
        return vorx_ReadFailed;
    }

    // Whatever the block holds, each field is read only up to its last byte.
    vorx::ConfigBlock& config = g_ConfigBlock;
    config.destination[sizeof config.destination - 1] = '\0';
    config.runAfterExtract[sizeof config.runAfterExtract - 1] = '\0';
    // The folder that holds the executable, ending in a backslash.
    wchar_t moduleFolder[sfx::kDestinationChars];
    if (!sfx::ModuleFolderOf(path, moduleFolder, sfx::kDestinationChars)) moduleFolder[0] = L'\0';
    const bool quiet = silent || sfx::IsQuietTail(commandTail);
    // The configured text is converted once, strictly, and expanded in UTF-16.
    wchar_t destination[sfx::kDestinationChars];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, config.destination, -1, destination,
                            sfx::kDestinationChars) == 0) {
        destination[0] = L'\0';
        // Quietly there is nobody to choose another folder; the wizard asks for one.
        ShowMessageBox(nullptr, kDestinationRefused, "Error", MB_ICONERROR);
        if (quiet) return vorx_InvalidArgument;
    } else {
        sfx::SettleDestination(destination, moduleFolder, ExpandEnvironment, nullptr);
    }

    vorx_Stream* archive = nullptr;
    const vorx_Error result = OpenOwnArchive(self, passwords, &archive);
    if (result != vorx_Success) {
        if (self >= 0) _close(self);
        return ReportOpenFailure(result);
    }
    ExtractWorker worker;
    worker.Init(archive, passwords, destination, config.runAfterExtract);
    const int exitCode = quiet ? ExtractQuietly(worker) : ExtractInWizard(instance, worker);
    if (worker.Thread != nullptr) CloseHandle(worker.Thread);
    vorx_CloseStream(archive);
    return exitCode;
}
