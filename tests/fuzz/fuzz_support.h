// What the fuzz targets and their seed generators share: an invariant that ends the
// process when broken, the password of the encrypted seeds, the seed folder, and the file
// an input is written to, removed again after each input (the fuzzing engine may end
// the process without running destructors).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>

namespace fuzz {

// The seed generators encrypt with this password; the targets try it.
constexpr char kPassword[] = "fuzz";

inline void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// A result code that must be one of `allowed`.
inline void CheckCode(int32_t code, std::initializer_list<int32_t> allowed, const char* what) {
    Check(std::find(allowed.begin(), allowed.end(), code) != allowed.end(), what);
}

// A seed generator's folder: its only argument, made when missing.
inline std::string SeedFolder(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        std::exit(2);
    }
    std::filesystem::create_directories(argv[1]);
    return argv[1];
}

// A path in the temporary folder that no other process running a target uses.
inline std::string TempPath(const char* suffix) {
    std::random_device random;
    const std::string name =
        "vorx-fuzz-" + std::to_string(random()) + std::to_string(random()) + suffix;
    return (std::filesystem::temp_directory_path() / name).string();
}

struct RemoveAfterUse {
    const std::string& path;
    ~RemoveAfterUse() { std::remove(path.c_str()); }
};

// The input as the file `path`; false when it cannot be written.
inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && written;
}

}  // namespace fuzz
