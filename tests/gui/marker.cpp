// A small program that the end-to-end tests let a self-extractor start after the
// extraction: it records its command-line tail in ran.txt beside itself.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    const std::string self(path, length);
    std::FILE* file = std::fopen((self.substr(0, self.rfind('\\') + 1) + "ran.txt").c_str(), "wb");
    return file != nullptr && std::fputs(tail, file) >= 0 && std::fclose(file) == 0 ? 0 : 1;
}
