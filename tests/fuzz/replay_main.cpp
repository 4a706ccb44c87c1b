// Runs a fuzz target over files without the fuzzing engine: every file named on the
// command line, and every file inside the folders named there, once each. Used where
// libFuzzer is not available (gcc, the Windows builds), so the seeds still run as a test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(arg, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto& file : files) {
                if (!RunFile(file)) return 1;
                ++runs;
            }
        } else {
            if (!RunFile(arg)) return 1;
            ++runs;
        }
    }
    std::printf("%zu inputs ran\n", runs);
    if (runs == 0) {
        std::fprintf(stderr, "no inputs: the seed corpus is missing\n");
        return 1;
    }
    return 0;
}
