// A program for a self-extractor to start after the extraction: it records its command-line
// tail in ran.txt beside itself (found by its full path, which the tests check this way too).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
    const std::string self = __argv[0];
    std::FILE* file = std::fopen((self.substr(0, self.rfind('\\') + 1) + "ran.txt").c_str(), "wb");
    return file != nullptr && std::fputs(tail, file) >= 0 && std::fclose(file) == 0 ? 0 : 1;
}
