// The conformance sample: archives made by an independent writer, each with the results
// a sound reader gives. For every archive: the open without a password, with the right,
// a wrong and an equivalent one; for every entry what enumeration and look-up by name
// report; the look-ups that must fail; indices out of range; older-format archives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "library/stream.h"
#include "tests/conformance/manifest.h"
#include "tests/support/test_support.h"

namespace vorx::conformance {
namespace {

// The zone the manifest's times assume: its bias in minutes west of UTC, no daylight saving.
void UseManifestZone(int biasMinutes) {
    const int magnitude = std::abs(biasMinutes);
    std::string tz = "VXT";
    if (biasMinutes < 0) tz += "-";
    tz += std::to_string(magnitude / 60);
    if (magnitude % 60) tz += ":" + std::to_string(magnitude % 60);
    test::SetTimeZone(tz.c_str());
}

// A run in another zone is given it by the test driver before the process starts, so
// that the C runtime and the system (under Wine: the host) see the same zone: TZ in a
// form both read ("XXX-5:30") and its bias in VORX_TEST_ZONE_BIAS. The manifest's
// times are then moved by the difference: local standard times by the bias, and the
// FILETIMEs of both kinds follow the manifest's model.
const char* GivenZoneBias() { return std::getenv("VORX_TEST_ZONE_BIAS"); }

int64_t ZoneShiftSeconds() {
    const char* given = GivenZoneBias();
    return given ? 60 * int64_t{std::atoi(given) - TheSample().manifest.biasMinutes} : 0;
}

uint64_t Ticks(const vorx_FileTime& t) { return (uint64_t{t.highDateTime} << 32) | t.lowDateTime; }

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void ExpectInfo(const vorx_FileInfo& info, const EntryCase& e, const std::string& where) {
    EXPECT_EQ(info.attributes, e.attributes) << where;
    EXPECT_EQ(info.compressedSize, e.compressedSize) << where;
    EXPECT_EQ(info.uncompressedSize, e.uncompressedSize) << where;
    EXPECT_EQ(info.crc32, e.crc32) << where;
    const int64_t shift = e.timeKind == 2 ? ZoneShiftSeconds() : 0;
    const int64_t seconds = static_cast<int64_t>(static_cast<uint64_t>(e.lastWriteSeconds) + static_cast<uint64_t>(shift));
    EXPECT_EQ(info.lastWriteSeconds, seconds) << where << " time kind " << e.timeKind;
    if (e.lastWriteTime) {
        const uint64_t expected = shift == 0 ? *e.lastWriteTime
                                             : static_cast<uint64_t>(seconds + 11644473600) * 10000000u;
        EXPECT_EQ(Ticks(info.lastWriteTime), expected) << where << " time kind " << e.timeKind;
    }
}

class Conformance : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        if (!GivenZoneBias()) UseManifestZone(TheSample().manifest.biasMinutes);
    }
    void TearDown() override {
        if (!GivenZoneBias()) test::SetTimeZone("UTC0");
    }
    const ArchiveCase& Case() const { return TheSample().manifest.archives[GetParam()]; }
};

TEST(ConformanceSample, IsPresent) {
    if (!TheSample().loaded) GTEST_SKIP() << TheSample().error;
    EXPECT_FALSE(TheSample().manifest.archives.empty());
}

TEST_P(Conformance, Open) {
    const ArchiveCase& a = Case();
    for (const auto& [kind, expected] : a.open) {
        std::optional<std::string> password;
        if (kind == "right_password") password = a.openPassword;
        else if (kind == "wrong_password") password = a.wrongPassword;
        else if (kind == "equivalent_password") password = a.equivalentPassword;
        else ASSERT_EQ(kind, "no_password") << "unknown kind of open in the manifest";

        const test::OpenOutcome outcome = test::TryOpen(a.path, password ? password->c_str() : nullptr);
        EXPECT_TRUE(expected.Accepts(outcome.code))
            << a.file << " " << kind << ": got " << outcome.code << ", expected " << expected.Describe();
        EXPECT_EQ(outcome.nullHandle, outcome.code != vorx_Success) << a.file << " " << kind;
    }
}

TEST_P(Conformance, EntriesAndLookups) {
    const ArchiveCase& a = Case();
    test::Handle h;
    const vorx_Error opened = h.Open(a.path, a.openPassword ? a.openPassword->c_str() : nullptr);
    if (opened != vorx_Success) {
        EXPECT_TRUE(a.entries.empty() && a.lookups.empty() && !a.enumerateOutOfRange)
            << a.file << ": does not open (" << opened << ") but the manifest lists its contents";
        return;
    }
    if (a.archiveStart) {
        EXPECT_EQ(h.get()->archiveStart, *a.archiveStart) << a.file;
    }
    if (a.entryCount) {
        EXPECT_EQ(vorx_GetNumFiles(h), *a.entryCount) << a.file;
    }

    // Enumeration in order (the cursor walks on), then backwards (every call restarts),
    // must give the same answers.
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t k = 0; k < a.entries.size(); ++k) {
            const EntryCase& e = a.entries[pass == 0 ? k : a.entries.size() - 1 - k];
            const std::string where = a.file + " entry " + std::to_string(e.index) + (pass ? " (backwards)" : "");
            vorx_FileInfo info;
            std::memset(&info, 0, sizeof info);
            const vorx_Error code = vorx_EnumerateFiles(h, &info, e.index);
            EXPECT_TRUE(e.enumerate.Accepts(code))
                << where << ": got " << code << ", expected " << e.enumerate.Describe();
            if (code != vorx_Success) continue;
            EXPECT_EQ(Hex(info.name), Hex(e.name)) << where;
            ExpectInfo(info, e, where);
        }
    }

    // Every name that enumerates is found by name; of equal names the first wins.
    for (const EntryCase& e : a.entries) {
        if (!e.enumerate.Accepts(vorx_Success) || e.enumerate.codes.size() != 1) continue;
        const EntryCase* first = &e;
        for (const EntryCase& other : a.entries)
            if (other.name == e.name) {
                first = &other;
                break;
            }
        const std::string where = a.file + " look-up of entry " + std::to_string(e.index);
        vorx_FileInfo info;
        ASSERT_EQ(vorx_GetFileInfo(h, &info, e.name.c_str()), vorx_Success) << where;
        EXPECT_STREQ(info.name, e.name.c_str()) << where;
        ExpectInfo(info, *first, where);
        EXPECT_EQ(vorx_GetFileInfo(h, nullptr, e.name.c_str()), vorx_Success) << where;
    }

    for (const LookupCase& l : a.lookups) {
        const std::string where = a.file + " look-up of " + Hex(l.name);
        vorx_FileInfo info;
        const vorx_Error code = vorx_GetFileInfo(h, &info, l.name.c_str());
        EXPECT_TRUE(l.result.Accepts(code)) << where << ": got " << code << ", expected " << l.result.Describe();
        if (code != vorx_Success) continue;
        if (l.attributes) {
            EXPECT_EQ(info.attributes, *l.attributes) << where;
        }
        if (l.compressedSize) {
            EXPECT_EQ(info.compressedSize, *l.compressedSize) << where;
        }
        if (l.uncompressedSize) {
            EXPECT_EQ(info.uncompressedSize, *l.uncompressedSize) << where;
        }
        if (l.crc32) {
            EXPECT_EQ(info.crc32, *l.crc32) << where;
        }
        EXPECT_EQ(std::string(info.name), l.name) << where;
    }

    if (a.enumerateOutOfRange) {
        vorx_FileInfo info;
        const vorx_Error code = vorx_EnumerateFiles(h, &info, *a.outOfRangeIndex);
        EXPECT_TRUE(a.enumerateOutOfRange->Accepts(code))
            << a.file << " index " << *a.outOfRangeIndex << ": got " << code;
    }
    if (a.enumerateAll && a.entryCount) {
        const uint64_t count = std::min<uint64_t>(*a.entryCount, 1000);
        for (uint64_t i = 0; i < count; ++i) {
            vorx_FileInfo info;
            const vorx_Error code = vorx_EnumerateFiles(h, &info, i);
            EXPECT_TRUE(a.enumerateAll->Accepts(code)) << a.file << " index " << i << ": got " << code;
        }
    }
}

std::string ArchiveName(const ::testing::TestParamInfo<size_t>& info) { return ArchiveTestName(info.param); }

INSTANTIATE_TEST_SUITE_P(Sample, Conformance, ::testing::ValuesIn(ArchiveIndices()), ArchiveName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Conformance);

}  // namespace
}  // namespace vorx::conformance
