// Runs a fuzz target over files without the fuzzing engine: every file named on the
// command line, and every file inside the folders named there, once each. Used where
// libFuzzer is not available (gcc, the Windows builds), so the seeds still run as a test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i], ec)) files.push_back(argv[i]);
        for (const auto& entry : fs::directory_iterator(argv[i], ec))
            if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs ran\n", files.size());
    if (files.empty()) std::fprintf(stderr, "no inputs: the seed corpus is missing\n");
    return files.empty() ? 1 : 0;
}
