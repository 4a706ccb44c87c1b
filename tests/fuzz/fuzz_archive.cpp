// Fuzz target: any byte string opened as an archive (through a temporary file), without
// a password and with one, every entry enumerated (in order, then from the end) and
// each name looked up again. Besides crashes, leaks and hangs it catches answers the
// library must never give: codes outside the documented set, names without their NUL,
// a look-up that cannot find a name that enumeration just gave.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "library/stream.h"
#include "platform/platform.h"

namespace {

// The seed generator makes its encrypted archives with this password.
constexpr char kPassword[] = "fuzz";
constexpr uint64_t kMaxEntries = 256;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The input's file, removed again after each input: the fuzzing engine may end the
// process without running destructors.
struct TempFile {
    std::string path;
    TempFile() {
        std::random_device random;
        path = (std::filesystem::temp_directory_path() /
                ("vorx-fuzz-" + std::to_string(random()) + std::to_string(random()) + ".vorx"))
                   .string();
    }
};

struct RemoveAfterUse {
    const std::string& path;
    ~RemoveAfterUse() { std::remove(path.c_str()); }
};

bool NameIsTerminated(const vorx_FileInfo& info) {
    return std::memchr(info.name, 0, sizeof info.name) != nullptr;
}

// The search by name reads the table in units and ignores a last unit shorter than 16
// bytes, which the walk by index still reads; only a table that ends on a 16-byte
// boundary promises that every name enumeration gives is found again.
bool TableEndsOnAUnit(vorx_Stream* h) {
    const int64_t length = platform::FileLength(h->file);
    const uint64_t start = h->directory.directoryOffset + vorx::kDirectoryHeaderSize;
    return length >= 0 && static_cast<uint64_t>(length) >= start &&
           (static_cast<uint64_t>(length) - start) % 16 == 0;
}

void Explore(vorx_Stream* h) {
    const bool wholeUnits = TableEndsOnAUnit(h);
    const uint64_t count = vorx_GetNumFiles(h);
    const uint64_t limit = count < kMaxEntries ? count : kMaxEntries;
    for (uint64_t i = 0; i < limit; ++i) {
        vorx_FileInfo info;
        const vorx_Error e = vorx_EnumerateFiles(h, &info, i);
        Check(e == vorx_Success || e == vorx_NotFound || e == vorx_ReadFailed, "enumeration code");
        if (e != vorx_Success) continue;
        Check(NameIsTerminated(info), "enumerated name has its NUL");
        if (info.name[0] == '\0') continue;  // an empty name is refused by the look-up
        vorx_FileInfo found;
        const vorx_Error f = vorx_GetFileInfo(h, &found, info.name);
        // The record walk may still fail (13) when the name sits in the table's padding.
        Check(f == vorx_Success || f == vorx_ReadFailed || (f == vorx_NotFound && !wholeUnits),
              "a name just enumerated is found");
        if (f == vorx_Success) Check(std::strcmp(found.name, info.name) == 0, "look-up copies the name");
        Check(vorx_GetFileInfo(h, nullptr, info.name) == f, "look-up without info agrees");
    }
    if (limit > 0) {
        vorx_FileInfo info;
        const vorx_Error last = vorx_EnumerateFiles(h, &info, limit - 1);
        const vorx_Error first = vorx_EnumerateFiles(h, &info, 0);
        Check(last != vorx_InvalidArgument && first != vorx_InvalidArgument, "indices in range");
    }
    vorx_FileInfo info;
    Check(vorx_EnumerateFiles(h, &info, count) == vorx_InvalidArgument, "index out of range");
    const vorx_Error missing = vorx_GetFileInfo(h, &info, "no such entry \x01");
    Check(missing == vorx_NotFound || missing == vorx_ReadFailed || missing == vorx_Unknown,
          "missing name");
    const std::string tooLong(300, 'a');
    Check(vorx_GetFileInfo(h, &info, tooLong.c_str()) == vorx_InvalidArgument, "overlong name");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TempFile file;
    const RemoveAfterUse removal{file.path};
    std::FILE* out = std::fopen(file.path.c_str(), "wb");
    if (!out) return 0;
    const bool written = std::fwrite(data, 1, size, out) == size;
    std::fclose(out);
    if (!written) return 0;

    for (const char* password : {static_cast<const char*>(nullptr), kPassword}) {
        vorx_Stream* h = nullptr;
        const vorx_Error e = vorx_OpenStream(&h, file.path.c_str(), password, 2);
        if (e != vorx_Success) {
            Check(h == nullptr, "a failed open gives a null handle");
            Check(e == vorx_NotFound || e == vorx_ReadFailed || e == vorx_CorruptArchive ||
                      e == vorx_CrcMismatch || e == vorx_PasswordRequired,
                  "open code");
            continue;
        }
        Explore(h);
        Check(vorx_CloseStream(h) == vorx_Success, "close");
    }
    return 0;
}
