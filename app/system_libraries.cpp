// System DLLs from the system folder only.
#include "app/system_libraries.h"

#include <cstring>

namespace {
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
}

void RestrictDllSearch() {
    using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    auto setDirectories = reinterpret_cast<SetDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories != nullptr) setDirectories(kSearchSystem32);
    // The current folder is never searched either, on systems without the call above.
    SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, kSearchSystem32);
    if (module != nullptr) return module;
    // Systems that do not know the flag: load by the full path in the system folder.
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    const size_t nameLength = std::strlen(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, name, nameLength + 1);
    return LoadLibraryA(path);
}

FARPROC SystemFunction(const char* library, const char* function) {
    HMODULE module = GetModuleHandleA(library);
    if (module == nullptr) module = LoadSystemLibrary(library);
    return module ? GetProcAddress(module, function) : nullptr;
}
