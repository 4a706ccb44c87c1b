// The conformance sample: archives made by an independent writer, each with the results
// a sound reader gives (manifest.json; every expectation is a set of acceptable codes).
// Per archive the opens with each password, enumeration both ways, look-ups and indices
// out of range; per entry that decodes, the result to memory and to a file with each
// password, the bytes (their length, and their CRC-32 against the record of the entry the
// name finds), the progress and a cancel at its first report.
//
// Two departures are deliberate. Blocks that produce more than the entry's declared size
// are corrupt data (3) in a file extraction too, so that an archive cannot write more
// than the free-space check was asked about; where the sample has the file take them
// (0), 3 is accepted. And blocks that produce fewer bytes than the declared size leave a
// damaged entry (3), whatever the CRC-32 of what they produced: where the sample has such
// an entry decode (0), 3 is required.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "container/crc32.h"
#include "library/stream.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

using nlohmann::json;
using Password = std::optional<std::string>;

struct Sample {
    json manifest = json::object();
    std::string error;
};

const Sample& TheSample() {
    static const Sample sample = [] {
        Sample s;
        std::ifstream in(std::string(VORX_CONFORMANCE_DIR) + "/manifest.json", std::ios::binary);
        if (!in) s.error = "no manifest.json in " VORX_CONFORMANCE_DIR;
        try {
            if (in) s.manifest = json::parse(in);
        } catch (const std::exception& e) {
            s.error = std::string("malformed manifest: ") + e.what();
        }
        return s;
    }();
    return sample;
}

const json& Archive(size_t i) { return TheSample().manifest["archives"][i]; }
size_t ArchiveCount() { return TheSample().manifest.value("archives", json::array()).size(); }

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// A password given as `<key>_hex`; null or absent means none.
Password PasswordOf(const json& j, const std::string& key) {
    const auto it = j.find(key + "_hex");
    if (it == j.end() || it->is_null()) return std::nullopt;
    return FromHex(it->get<std::string>());
}

const char* Text(const Password& s) { return s ? s->c_str() : nullptr; }

bool Settled(const json& expectation, int code) {
    return expectation.at("codes") == json::array({code});
}

// A check that the code is among the expected ones, saying which and why when not.
::testing::AssertionResult Expected(const json& expectation, int code) {
    const auto& codes = expectation.at("codes");
    if (std::find(codes.begin(), codes.end(), code) != codes.end())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << code << ", expected one of " << codes.dump()
                                         << " " << expectation.value("why", std::string());
}

// A run in another zone is given it by the test driver before the process starts, so
// that the C runtime and the system (under Wine: the host) see the same zone: TZ in a
// form both read ("XXX-5:30") and its bias in VORX_TEST_ZONE_BIAS. The manifest's
// times are then moved by the difference: local standard times by the bias, and the
// FILETIMEs of both kinds follow the manifest's model.
const char* GivenZoneBias() { return std::getenv("VORX_TEST_ZONE_BIAS"); }

int ManifestBias() { return TheSample().manifest.value("bias_minutes", 0); }

void ExpectInfo(const vorx_FileInfo& info, const json& e, const std::string& where) {
    EXPECT_EQ(info.attributes, e.at("attributes").get<uint32_t>()) << where;
    EXPECT_EQ(info.compressedSize, e.at("compressedSize").get<uint64_t>()) << where;
    EXPECT_EQ(info.uncompressedSize, e.at("uncompressedSize").get<uint64_t>()) << where;
    EXPECT_EQ(info.crc32, e.at("crc32").get<uint32_t>()) << where;
    const int kind = e.at("timeKind").get<int>();
    const char* given = GivenZoneBias();
    const int64_t shift = kind == 2 && given ? 60 * int64_t{std::atoi(given) - ManifestBias()} : 0;
    const int64_t seconds =
        static_cast<int64_t>(static_cast<uint64_t>(e.at("lastWriteSeconds").get<int64_t>()) +
                             static_cast<uint64_t>(shift));
    EXPECT_EQ(info.lastWriteSeconds, seconds) << where << " time kind " << kind;
    if (e.at("lastWriteTime").is_null()) return;
    const uint64_t ticks =
        (uint64_t{info.lastWriteTime.highDateTime} << 32) | info.lastWriteTime.lowDateTime;
    EXPECT_EQ(ticks, shift == 0 ? e.at("lastWriteTime").get<uint64_t>()
                                : static_cast<uint64_t>(seconds + 11644473600) * 10000000u)
        << where << " time kind " << kind;
}

class Conformance : public ::testing::TestWithParam<size_t> {
protected:
    // The zone the manifest's times assume: its bias in minutes west of UTC, no daylight saving.
    void SetUp() override {
        if (GivenZoneBias()) return;
        const int bias = ManifestBias(), magnitude = std::abs(bias);
        std::string tz =
            std::string("VXT") + (bias < 0 ? "-" : "") + std::to_string(magnitude / 60);
        if (magnitude % 60) tz += ":" + std::to_string(magnitude % 60);
        test::SetTimeZone(tz.c_str());
    }
    void TearDown() override {
        if (!GivenZoneBias()) test::SetTimeZone("UTC0");
    }
    const json& Case() const { return Archive(GetParam()); }
    std::string File() const { return Case().at("file").get<std::string>(); }
    std::string Path() const { return std::string(VORX_CONFORMANCE_DIR) + "/" + File(); }
};

// Without the sample every test skips (ctest shows the program as skipped).
TEST(ConformanceSample, IsPresent) {
    if (!TheSample().error.empty()) GTEST_SKIP() << TheSample().error;
    EXPECT_FALSE(TheSample().manifest.at("archives").empty());
}

TEST_P(Conformance, Open) {
    const json& a = Case();
    for (const auto& [kind, expected] : a.at("open").items()) {
        // The kind names the manifest's password field (right_password: open_password).
        ASSERT_TRUE(kind == "no_password" || kind == "right_password" || kind == "wrong_password" ||
                    kind == "equivalent_password")
            << "unknown kind of open in the manifest: " << kind;
        const Password password = PasswordOf(a, kind == "right_password" ? "open_password" : kind);
        const test::OpenOutcome outcome = test::TryOpen(Path(), Text(password));
        EXPECT_TRUE(Expected(expected, outcome.code)) << File() << " " << kind;
        EXPECT_EQ(outcome.nullHandle, outcome.code != vorx_Success) << File() << " " << kind;
    }
}

// The first entry of the name of `e`, which a look-up by that name finds.
const json& FirstOfName(const json& entries, const json& e) {
    for (const json& other : entries)
        if (other.at("name_hex") == e.at("name_hex")) return other;
    return e;
}

TEST_P(Conformance, EntriesAndLookups) {
    const json& a = Case();
    const json entries = a.value("entries", json::array()),
               lookups = a.value("lookups", json::array());
    test::Handle h;
    const vorx_Error opened = h.Open(Path(), Text(PasswordOf(a, "open_password")));
    if (opened != vorx_Success) {
        EXPECT_TRUE(entries.empty() && lookups.empty() && !a.contains("enumerate_out_of_range"))
            << File() << ": does not open (" << opened << ") but the manifest lists its contents";
        return;
    }
    if (!a.at("archive_start").is_null()) {
        EXPECT_EQ(h.get()->archiveStart, a["archive_start"].get<uint64_t>()) << File();
    }
    if (a.contains("entry_count")) {
        EXPECT_EQ(vorx_GetNumFiles(h), a["entry_count"].get<uint64_t>()) << File();
    }
    // In order (the cursor walks on), then backwards (every call restarts).
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t k = 0; k < entries.size(); ++k) {
            const json& e = entries[pass == 0 ? k : entries.size() - 1 - k];
            const std::string where =
                File() + " entry " + e.at("index").dump() + (pass ? " (backwards)" : "");
            vorx_FileInfo info;
            std::memset(&info, 0, sizeof info);
            const vorx_Error code = vorx_EnumerateFiles(h, &info, e.at("index").get<uint64_t>());
            EXPECT_TRUE(Expected(e.at("enumerate"), code)) << where;
            if (code != vorx_Success) continue;
            EXPECT_EQ(info.name, FromHex(e.at("name_hex").get<std::string>())) << where;
            ExpectInfo(info, e, where);
        }
    }
    // Every name that enumerates is found by name; of equal names the first wins.
    for (const json& e : entries) {
        if (!Settled(e.at("enumerate"), vorx_Success)) continue;
        const std::string name = FromHex(e.at("name_hex").get<std::string>());
        const std::string where = File() + " look-up of entry " + e.at("index").dump();
        vorx_FileInfo info;
        ASSERT_EQ(vorx_GetFileInfo(h, &info, name.c_str()), vorx_Success) << where;
        EXPECT_STREQ(info.name, name.c_str()) << where;
        ExpectInfo(info, FirstOfName(entries, e), where);
        EXPECT_EQ(vorx_GetFileInfo(h, nullptr, name.c_str()), vorx_Success) << where;
    }
    for (const json& l : lookups) {
        const std::string name = FromHex(l.at("name_hex").get<std::string>());
        const std::string where = File() + " look-up of " + l.at("name_hex").get<std::string>();
        vorx_FileInfo info;
        const vorx_Error code = vorx_GetFileInfo(h, &info, name.c_str());
        EXPECT_TRUE(Expected(l, code)) << where;
        if (code != vorx_Success) continue;
        EXPECT_EQ(std::string(info.name), name) << where;
        const std::pair<const char*, uint64_t> fields[] = {
            {"attributes", info.attributes},
            {"compressedSize", info.compressedSize},
            {"uncompressedSize", info.uncompressedSize},
            {"crc32", info.crc32}};
        for (const auto& [key, got] : fields) {
            if (l.contains(key) && !l[key].is_null()) {
                EXPECT_EQ(got, l[key].get<uint64_t>()) << where << " " << key;
            }
        }
    }
    vorx_FileInfo info;
    if (a.contains("enumerate_out_of_range")) {
        const json& out = a["enumerate_out_of_range"];
        EXPECT_TRUE(Expected(out, vorx_EnumerateFiles(h, &info, out.at("index").get<uint64_t>())))
            << File();
    }
    if (a.contains("enumerate_all")) {
        for (uint64_t i = 0; i < std::min<uint64_t>(a.at("entry_count").get<uint64_t>(), 1000); ++i)
            EXPECT_TRUE(Expected(a["enumerate_all"], vorx_EnumerateFiles(h, &info, i)))
                << File() << " index " << i;
    }
}

// Memory for vorx_DecompressToPtr: the entry's declared size, of which only the part
// the entry is expected to produce (all of it, up to 64 MiB) is usable; a write beyond
// the usable part faults. A 32-bit process cannot reserve a declared size near 4 GiB:
// there the usable part is followed by 1 MiB of reserved pages, which fault just the same.
class Destination {
public:
    Destination(uint64_t declared, uint64_t expected) {
        const auto pages = [](uint64_t n) {
            return (std::max<uint64_t>(n, 1) + platform::kPageSize - 1) / platform::kPageSize *
                   platform::kPageSize;
        };
        const uint64_t usable = pages(declared <= (64u << 20) ? declared : expected);
        for (uint64_t reserved : {pages(declared), usable + (1u << 20)}) {
            if (base_ || reserved > SIZE_MAX / 2) continue;
            reserved_ = static_cast<size_t>(reserved);
            base_ = static_cast<uint8_t*>(platform::ReserveRange(reserved_));
        }
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

struct Result {
    vorx_Error code = vorx_Success;
    std::vector<uint8_t> bytes;
    std::vector<int> progress;
    vorx_Stream* handle = nullptr;
    bool cancelAtFirst = false;
};

void VORX_CALL Record(void* user, int percent) {
    auto* r = static_cast<Result*>(user);
    r->progress.push_back(percent);
    if (r->cancelAtFirst && r->progress.size() == 1) vorx_CancelOperation(r->handle);
}

// Decodes to memory (file empty) or to the file named, with the password given.
Result Decode(vorx_Stream* h, const std::string& name, const Password& password,
              uint64_t expectedLength, const std::string& file = "", bool cancelAtFirst = false) {
    Result r;
    r.handle = h, r.cancelAtFirst = cancelAtFirst;
    vorx_SetUserData(h, &r);
    if (!file.empty()) {
        r.code = vorx_DecompressToFile(h, name.c_str(), file.c_str(), &Record, Text(password));
        if (r.code == vorx_Success) r.bytes = test::ReadFile(file);
        return r;
    }
    // The name may be shared with an earlier entry, which it then finds: the memory is
    // the declared size of the entry found.
    vorx_FileInfo info;
    const uint64_t declared =
        vorx_GetFileInfo(h, &info, name.c_str()) == vorx_Success ? info.uncompressedSize : 0;
    Destination destination(declared, expectedLength);
    if (!destination.data()) {
        ADD_FAILURE() << "no memory for a destination of " << declared << " bytes";
        return r;
    }
    r.code = vorx_DecompressToPtr(h, name.c_str(), destination.data(), &Record, Text(password));
    if (r.code == vorx_Success)
        r.bytes.assign(destination.data(), destination.data() + expectedLength);
    return r;
}

// The bytes (their length where given, their CRC-32 against that of `found`, the entry
// the name finds) and the progress (one of the sequences the manifest accepts).
void ExpectDecoded(const json& found, const json& expectation, const Result& r, bool progress,
                   const std::string& where) {
    if (r.code == vorx_Success && expectation.contains("length")) {
        EXPECT_EQ(r.bytes.size(), expectation["length"].get<uint64_t>()) << where;
    }
    if (r.code == vorx_Success && expectation.contains("sha256")) {
        EXPECT_EQ(Crc32::Of(r.bytes.data(), r.bytes.size()), found.at("crc32").get<uint32_t>())
            << where;
    }
    if (!progress || !found.contains("progress")) return;
    const json& sequences = found["progress"];
    EXPECT_TRUE(std::find(sequences.begin(), sequences.end(), json(r.progress)) != sequences.end())
        << where << ": progress " << json(r.progress).dump() << " is not among the manifest's "
        << sequences.dump();
}

// The expectation with the second departure applied: success becomes 3 when the bytes the
// blocks produce (the manifest's length, or the sizes of stored blocks) fall short of the
// entry's declared size.
json Honest(const json& entry, json expectation) {
    uint64_t length = 0;
    if (entry.contains("ptr") && entry["ptr"].contains("length")) {
        length = entry["ptr"]["length"].get<uint64_t>();
    } else if (entry.contains("blocks") && entry["blocks"].is_array()) {
        for (const json& b : entry["blocks"]) {
            if (!b.is_object() || b.value("type", 1) != 0)
                return expectation;  // compressed: not known
            length += b.value("size", uint64_t{0});
        }
    } else {
        return expectation;
    }
    if (length >= entry.value("uncompressedSize", uint64_t{0}) || !expectation.contains("codes"))
        return expectation;
    for (json& c : expectation["codes"])
        if (c == vorx_Success) c = vorx_CorruptArchive;
    return expectation;
}

TEST_P(Conformance, Decode) {
    const json& a = Case();
    test::Handle h;
    if (h.Open(Path(), Text(PasswordOf(a, "open_password"))) != vorx_Success) return;
    test::TempDir dir;
    const json entries = a.value("entries", json::array());
    for (const json& e : entries) {
        if (!e.contains("ptr")) continue;
        const std::string where = File() + " entry " + e.at("index").dump();
        const std::string name = FromHex(e.at("name_hex").get<std::string>());
        // The departure for short entries applies where the name finds this very entry.
        const json& found = FirstOfName(entries, e);
        const auto honest = [&](const json& x) { return &found == &e ? Honest(e, x) : x; };
        const json& ptr = e["ptr"];
        const uint64_t length = ptr.value("length", uint64_t{0});
        const Password password = PasswordOf(e, "ptr_password");
        // To memory, with the entry's password, without one, with a wrong one.
        const std::pair<const char*, Password> variants[] = {
            {"ptr", password},
            {"ptr_no_password", std::nullopt},
            {"ptr_wrong_password", PasswordOf(e, "wrong_entry_password")}};
        for (const auto& [key, variantPassword] : variants) {
            if (!e.contains(key)) continue;
            const Result r = Decode(h, name, variantPassword, e[key].value("length", length));
            const bool same = std::strcmp(key, "ptr_wrong_password") != 0;  // the bytes of `ptr`
            EXPECT_TRUE(Expected(same ? honest(e[key]) : e[key], r.code)) << where << " " << key;
            ExpectDecoded(found, e[key], r, key == variants[0].first && ptr["codes"].size() == 1,
                          where + " " + key);
        }
        if (e.contains("cancel_on_first_progress_call")) {
            const Result r = Decode(h, name, password, length, "", true);
            EXPECT_TRUE(Expected(e["cancel_on_first_progress_call"], r.code))
                << where << " cancelled";
        }
        // To a file: as to memory unless the manifest says otherwise.
        json file = honest(e.contains("file") ? e["file"] : ptr);
        if (e.contains("file") && Settled(file, vorx_Success) && Settled(ptr, vorx_CorruptArchive))
            file["codes"].push_back(vorx_CorruptArchive);
        const Result r = Decode(h, name, password, length, dir.File("out " + e.at("index").dump()));
        EXPECT_TRUE(Expected(file, r.code)) << where << " to a file";
        ExpectDecoded(found, file, r, ptr["codes"].size() == 1 && r.code == vorx_Success,
                      where + " to a file");
    }
}

INSTANTIATE_TEST_SUITE_P(Sample, Conformance, ::testing::Range<size_t>(0, ArchiveCount()),
                         [](const auto& info) {
                             std::string name =
                                 Archive(info.param).at("file").template get<std::string>();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Conformance);

}  // namespace
}  // namespace vorx
