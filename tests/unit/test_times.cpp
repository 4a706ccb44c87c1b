// Entry times: the three time kinds, the zone's bias for local standard time, the
// FILETIME of seconds through the local-time round trip, and times the local-time
// conversion cannot express. Zones are set through TZ; TZ=UTC0 is the default of
// every test program.
#include <gtest/gtest.h>

#include "library/stream.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

constexpr int64_t kEpochTicks = 116444736000000000;  // 1970-01-01 as a FILETIME

uint64_t Ticks(const vorx_FileTime& t) { return (uint64_t{t.highDateTime} << 32) | t.lowDateTime; }
uint64_t ExactFileTime(int64_t seconds) { return static_cast<uint64_t>(kEpochTicks + seconds * 10000000); }

vorx_FileInfo Convert(uint8_t timeKind, uint64_t time, uint16_t attributes = 0x20) {
    EntryRecord record{};
    record.timeKind = timeKind;
    record.time = time;
    record.attributes = attributes;
    record.compressedSize = 0x1122334455667788ull;
    record.uncompressedSize = 0x99AABBCCDDEEFF00ull;
    record.crc32 = 0xCAFEBABE;
    vorx_FileInfo info;
    RecordToFileInfo(record, &info);
    return info;
}

class Times : public ::testing::Test {
protected:
    void TearDown() override { test::SetTimeZone("UTC0"); }
};

TEST_F(Times, FieldsAreCopied) {
    const vorx_FileInfo info = Convert(1, 0, 0xFFFF);
    EXPECT_EQ(info.attributes, 0x0000FFFFu);
    EXPECT_EQ(info.crc32, 0xCAFEBABEu);
    EXPECT_EQ(info.compressedSize, 0x1122334455667788ull);
    EXPECT_EQ(info.uncompressedSize, 0x99AABBCCDDEEFF00ull);
}

TEST_F(Times, SecondsSince1970InUtc) {
    for (int64_t seconds : {int64_t{0}, int64_t{1}, int64_t{951782400} /* 2000-02-29 */,
                            int64_t{1700000000}, int64_t{4102444800} /* 2100-01-01 */}) {
        const vorx_FileInfo info = Convert(1, static_cast<uint64_t>(seconds));
        EXPECT_EQ(info.lastWriteSeconds, seconds);
        EXPECT_EQ(Ticks(info.lastWriteTime), ExactFileTime(seconds)) << seconds;
    }
}

TEST_F(Times, LocalStandardTimeAddsTheBias) {
    const int64_t stored = 1700000000;
    EXPECT_EQ(Convert(2, stored).lastWriteSeconds, stored);
    // Zones west and east of UTC; a zone with daylight saving counts its standard
    // offset only, whatever the date.
    const struct {
        const char* tz;
        int32_t biasMinutes;
    } zones[] = {{"EST5", 300}, {"JST-9", -540}, {"IST-5:30", -330}, {"CET-1CEST", -60}};
    for (const auto& zone : zones) {
        test::SetTimeZone(zone.tz);
        EXPECT_EQ(platform::TimeZoneBiasMinutes(), zone.biasMinutes) << zone.tz;
        EXPECT_EQ(Convert(2, stored).lastWriteSeconds, stored + 60 * zone.biasMinutes) << zone.tz;
        EXPECT_EQ(Convert(2, stored + 180 * 86400).lastWriteSeconds,
                  stored + 180 * 86400 + 60 * zone.biasMinutes)
            << zone.tz;
        // Kind 1 is UTC already.
        EXPECT_EQ(Convert(1, stored).lastWriteSeconds, stored) << zone.tz;
    }
}

TEST_F(Times, OtherKindsAreFileTimes) {
    for (uint8_t kind : {0, 3, 4, 0x80, 0xFF}) {
        const vorx_FileInfo info = Convert(kind, 0x01D9C2A3B4C5D6E7ull);
        EXPECT_EQ(info.lastWriteSeconds, 0);
        EXPECT_EQ(info.lastWriteTime.lowDateTime, 0xB4C5D6E7u);
        EXPECT_EQ(info.lastWriteTime.highDateTime, 0x01D9C2A3u);
    }
}

// Before 1970 and after 3000 the Windows runtime has no local calendar time; those
// instants get their exact UTC FILETIME on every platform, and 0 when a FILETIME cannot
// hold them at all.
TEST_F(Times, InstantsBeyondTheLocalTimeConversion) {
    for (int64_t seconds : {int64_t{-1}, int64_t{-86400}, int64_t{-11644473600} /* 1601 */,
                            int64_t{32535215999} /* end of 3000 */, int64_t{32535522613}}) {
        const vorx_FileInfo info = Convert(1, static_cast<uint64_t>(seconds));
        EXPECT_EQ(info.lastWriteSeconds, seconds);
        EXPECT_EQ(Ticks(info.lastWriteTime), ExactFileTime(seconds)) << seconds;
    }
    for (int64_t seconds : {int64_t{-11644473601}, INT64_MIN, INT64_MAX, int64_t{910692730086}}) {
        const vorx_FileInfo info = Convert(1, static_cast<uint64_t>(seconds));
        EXPECT_EQ(info.lastWriteSeconds, seconds);
        EXPECT_EQ(Ticks(info.lastWriteTime), 0u) << seconds;
    }
    // The largest instant a FILETIME holds in whole seconds.
    EXPECT_EQ(Ticks(Convert(1, 910692730085).lastWriteTime), ExactFileTime(910692730085));

    // Kind 2 near the ends of the range: the sum wraps instead of overflowing.
    test::SetTimeZone("EST5");
    const vorx_FileInfo info = Convert(2, static_cast<uint64_t>(INT64_MAX));
    EXPECT_EQ(static_cast<uint64_t>(info.lastWriteSeconds), static_cast<uint64_t>(INT64_MAX) + 18000);
    EXPECT_EQ(Ticks(info.lastWriteTime), 0u);
}

TEST_F(Times, SecondsToFileTimeRoundTrip) {
    vorx_FileTime ft;
    SecondsToFileTime(0, &ft);
    EXPECT_EQ(Ticks(ft), static_cast<uint64_t>(kEpochTicks));
    SecondsToFileTime(1234567890, &ft);
    EXPECT_EQ(Ticks(ft), ExactFileTime(1234567890));
    // Whole seconds only: the calendar record carries no sub-second part.
    EXPECT_EQ(Ticks(ft) % 10000000, static_cast<uint64_t>(kEpochTicks) % 10000000);
}

}  // namespace
}  // namespace vorx
