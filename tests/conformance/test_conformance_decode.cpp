// The conformance sample, decoded: for every entry of every archive that opens, the
// result of vorx_DecompressToPtr with the right password, without one and with a wrong
// one, the decoded bytes (length and SHA-256), the sequence of progress reports, a
// cancel from the first report, and the same decode through vorx_DecompressToFile.
//
// One departure from the sample is deliberate: blocks that produce more bytes than the
// entry's declared size are corrupt data (3) in a file extraction too, so that an
// archive cannot write more than the free-space check was asked about. Where the
// sample has memory refuse such output (3) and the file take it (0), 3 is accepted
// for the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "library/vorx.h"
#include "platform/platform.h"
#include "tests/conformance/manifest.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace vorx::conformance {
namespace {

using nlohmann::json;

uint64_t RoundToPages(uint64_t n) {
    const uint64_t page = platform::kPageSize;
    return (n + page - 1) / page * page;
}

// Memory for vorx_DecompressToPtr: the entry's declared size, of which only the part
// the entry is expected to produce (all of it, up to 64 MiB) is usable. A write beyond
// the usable part faults. A 32-bit process cannot reserve a declared size near 4 GiB:
// there the usable part is followed by 1 MiB of reserved pages, where a write beyond
// it faults just the same.
class Destination {
public:
    Destination(uint64_t declared, uint64_t expected) {
        const uint64_t usable = RoundToPages(std::max<uint64_t>(
            declared <= (64u << 20) ? declared : std::max<uint64_t>(expected, 1), 1));
        uint64_t reserved = RoundToPages(std::max<uint64_t>(declared, 1));
        if (reserved <= SIZE_MAX / 2) base_ = static_cast<uint8_t*>(platform::ReserveRange(static_cast<size_t>(reserved)));
        if (!base_) {
            reserved = usable + (1u << 20);
            if (reserved > SIZE_MAX / 2) return;
            base_ = static_cast<uint8_t*>(platform::ReserveRange(static_cast<size_t>(reserved)));
        }
        reserved_ = static_cast<size_t>(reserved);
        if (base_ && !platform::CommitRange(base_, static_cast<size_t>(usable))) {
            platform::ReleaseRange(base_, reserved_);
            base_ = nullptr;
        }
    }
    ~Destination() {
        if (base_) platform::ReleaseRange(base_, reserved_);
    }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;
    uint8_t* data() const { return base_; }

private:
    uint8_t* base_ = nullptr;
    size_t reserved_ = 0;
};

struct Recorder {
    std::vector<int> percents;
    vorx_Stream* handle = nullptr;
    bool cancelAtFirst = false;
};

void VORX_CALL Record(void* user, int percent) {
    auto* r = static_cast<Recorder*>(user);
    r->percents.push_back(percent);
    if (r->cancelAtFirst && r->percents.size() == 1) vorx_CancelOperation(r->handle);
}

struct Result {
    vorx_Error code = vorx_Success;
    std::vector<uint8_t> bytes;
    std::vector<int> progress;
};

Result ToMemory(vorx_Stream* h, const EntryCase& e, const std::optional<std::string>& password,
                uint64_t expectedLength, bool cancelAtFirst = false) {
    Result r;
    // The name may be shared with an earlier entry, which it then finds: the memory is
    // the declared size of the entry found.
    vorx_FileInfo info;
    const uint64_t declared = vorx_GetFileInfo(h, &info, e.name.c_str()) == vorx_Success ? info.uncompressedSize : 0;
    Destination destination(declared, expectedLength);
    if (!destination.data()) {
        ADD_FAILURE() << "no memory for a destination of " << declared << " bytes";
        return r;
    }
    Recorder recorder;
    recorder.handle = h;
    recorder.cancelAtFirst = cancelAtFirst;
    vorx_SetUserData(h, &recorder);
    r.code = vorx_DecompressToPtr(h, e.name.c_str(), destination.data(), &Record,
                                  password ? password->c_str() : nullptr);
    r.progress = recorder.percents;
    if (r.code == vorx_Success) r.bytes.assign(destination.data(), destination.data() + expectedLength);
    return r;
}

Result ToFile(vorx_Stream* h, const EntryCase& e, const std::optional<std::string>& password,
              const std::string& path) {
    Result r;
    Recorder recorder;
    recorder.handle = h;
    vorx_SetUserData(h, &recorder);
    r.code = vorx_DecompressToFile(h, e.name.c_str(), path.c_str(), &Record, password ? password->c_str() : nullptr);
    r.progress = recorder.percents;
    if (r.code == vorx_Success) r.bytes = test::ReadFile(path);
    return r;
}

std::string Describe(const std::vector<int>& v) {
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
    return s + "]";
}

// The reported sequence is one of those the manifest accepts.
void ExpectProgress(const json& entry, const std::vector<int>& progress, const std::string& where) {
    const auto it = entry.find("progress");
    if (it == entry.end()) return;
    bool found = false;
    for (const json& sequence : *it) found = found || sequence.get<std::vector<int>>() == progress;
    EXPECT_TRUE(found) << where << ": progress " << Describe(progress) << " is not among the manifest's "
                       << it->dump();
}

// Length and digest of the bytes, when the expectation gives them.
void ExpectBytes(const json& expectation, const std::vector<uint8_t>& bytes, const std::string& where) {
    if (expectation.contains("length")) {
        EXPECT_EQ(bytes.size(), expectation["length"].get<uint64_t>()) << where;
    }
    if (expectation.contains("sha256")) {
        EXPECT_EQ(test::Sha256Hex(bytes.data(), bytes.size()), expectation["sha256"].get<std::string>()) << where;
    }
}

class ConformanceDecode : public ::testing::TestWithParam<size_t> {
protected:
    const ArchiveCase& Case() const { return TheSample().manifest.archives[GetParam()]; }
};

TEST(ConformanceDecodeSample, IsPresent) {
    if (!TheSample().loaded) GTEST_SKIP() << TheSample().error;
    EXPECT_FALSE(TheSample().manifest.archives.empty());
}

TEST_P(ConformanceDecode, Entries) {
    const ArchiveCase& a = Case();
    test::Handle h;
    if (h.Open(a.path, a.openPassword ? a.openPassword->c_str() : nullptr) != vorx_Success) return;
    test::TempDir dir;
    for (const EntryCase& e : a.entries) {
        const json& j = e.raw;
        const std::string where = a.file + " entry " + std::to_string(e.index);
        if (!j.contains("ptr")) continue;
        const Expectation ptr = ParseExpectation(j["ptr"]);
        const uint64_t expectedLength = j["ptr"].value("length", uint64_t{0});

        // To memory, with the entry's password, without one, with a wrong one.
        struct Variant {
            const char* key;
            std::optional<std::string> password;
        };
        const Variant variants[] = {{"ptr", Password(j, "ptr_password")},
                                    {"ptr_no_password", std::nullopt},
                                    {"ptr_wrong_password", Password(j, "wrong_entry_password")}};
        for (const Variant& v : variants) {
            if (!j.contains(v.key)) continue;
            const Expectation expected = ParseExpectation(j[v.key]);
            const Result r = ToMemory(h, e, v.password, j[v.key].value("length", expectedLength));
            EXPECT_TRUE(expected.Accepts(r.code))
                << where << " " << v.key << ": got " << r.code << ", expected " << expected.Describe();
            if (r.code == vorx_Success) ExpectBytes(j[v.key], r.bytes, where + " " + v.key);
            if (std::strcmp(v.key, "ptr") == 0 && ptr.codes.size() == 1) ExpectProgress(j, r.progress, where);
        }

        if (j.contains("cancel_on_first_progress_call")) {
            const Expectation expected = ParseExpectation(j["cancel_on_first_progress_call"]);
            const Result r = ToMemory(h, e, Password(j, "ptr_password"), expectedLength, true);
            EXPECT_TRUE(expected.Accepts(r.code))
                << where << " cancelled: got " << r.code << ", expected " << expected.Describe();
        }

        // To a file: as to memory unless the manifest says otherwise.
        const json& fileJson = j.contains("file") ? j["file"] : j["ptr"];
        Expectation file = ParseExpectation(fileJson);
        const bool sizeMended = j.contains("file") && file.codes == std::vector<int>{vorx_Success} &&
                                ptr.codes == std::vector<int>{vorx_CorruptArchive};
        if (sizeMended) file.codes.push_back(vorx_CorruptArchive);
        const Result r = ToFile(h, e, Password(j, "ptr_password"), dir.File("out " + std::to_string(e.index)));
        EXPECT_TRUE(file.Accepts(r.code)) << where << " to a file: got " << r.code << ", expected " << file.Describe();
        if (r.code == vorx_Success) {
            ExpectBytes(fileJson, r.bytes, where + " to a file");
            if (ptr.codes.size() == 1) ExpectProgress(j, r.progress, where + " to a file");
        }
    }
}

std::string ArchiveName(const ::testing::TestParamInfo<size_t>& info) { return ArchiveTestName(info.param); }

INSTANTIATE_TEST_SUITE_P(Sample, ConformanceDecode, ::testing::ValuesIn(ArchiveIndices()), ArchiveName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ConformanceDecode);

}  // namespace
}  // namespace vorx::conformance
