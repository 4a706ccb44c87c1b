// A small program that the end-to-end tests let a self-extractor start after the
// extraction: it records its command-line tail in ran.txt beside itself.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    char* slash = std::strrchr(path, '\\');
    if (slash == nullptr || static_cast<size_t>(slash - path) + 8 >= MAX_PATH) return 1;
    std::strcpy(slash + 1, "ran.txt");
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return 1;
    std::fputs(tail, file);
    return std::fclose(file) == 0 ? 0 : 1;
}
