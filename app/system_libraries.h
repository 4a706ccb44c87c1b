// Loading of the system DLLs that the stub does not import. A self-extractor is often
// started from a download folder, where a planted comctl32.dll or shell32.dll could be
// picked up: the search is restricted to the system folder before anything is loaded,
// and these libraries are loaded from there explicitly.
#pragma once

#include <windows.h>

// Restricts the DLL search of this process to the system folder (where the system
// supports it). Called first thing at start-up.
void RestrictDllSearch();

// Loads a DLL from the system folder only; null when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// The address of `function` in the system DLL `library`, loading it when needed.
FARPROC SystemFunction(const char* library, const char* function);

template <typename Function>
Function SystemFunctionAs(const char* library, const char* function) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(SystemFunction(library, function)));
}
