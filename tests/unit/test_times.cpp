// Entry times: the three time kinds, the zone's bias for local standard time, and
// times the local-time conversion cannot express. Zones are set through TZ; TZ=UTC0 is
// the default of every test program.
#include <gtest/gtest.h>

#include "library/stream.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

constexpr int64_t kEpochTicks = 116444736000000000;  // 1970-01-01 as a FILETIME

// One row per case: the zone, the record's kind and time, and the seconds and FILETIME
// the caller gets (kAny: the FILETIME is the exact one of the seconds; kSkip: not
// checked, since outside UTC the FILETIME goes through the system's local time, which
// under Wine is the host's zone, not TZ). Before 1970 and after 3000 the Windows runtime
// has no local calendar time: those instants still get their exact FILETIME, and 0 when
// a FILETIME cannot hold them. A zone with daylight saving counts its standard offset
// only, whatever the date.
TEST(Times, KindsZonesAndRanges) {
    constexpr uint64_t kAny = UINT64_MAX, kSkip = UINT64_MAX - 1;
    const int64_t t = 1700000000, half = 180 * 86400;
    const struct {
        const char* tz;
        uint8_t kind;
        int64_t time, seconds;
        uint64_t ticks;
    } rows[] = {
        {"UTC0", 1, 951782400, 951782400, kAny},  // 2000-02-29
        {"EST5", 2, t, t + 300 * 60, kSkip},
        {"JST-9", 2, t + half, t + half - 540 * 60, kSkip},
        {"IST-5:30", 2, t, t - 330 * 60, kSkip},
        {"CET-1CEST", 2, t + half, t + half - 60 * 60, kSkip},
        {"UTC0", 1, -1, -1, kAny},
        {"UTC0", 1, -11644473600, -11644473600, kAny},  // 1601
        {"UTC0", 1, 32535215999, 32535215999, kAny},    // end of 3000
        {"UTC0", 1, 910692730085, 910692730085, kAny},  // the last whole second of a FILETIME
        {"UTC0", 1, -11644473601, -11644473601, 0},
        {"UTC0", 1, 910692730086, 910692730086, 0},
        {"UTC0", 1, INT64_MIN, INT64_MIN, 0},
        {"EST5", 2, INT64_MAX, static_cast<int64_t>(uint64_t{INT64_MAX} + 18000), 0},  // wraps
        {"UTC0", 0, 0x01D9C2A3B4C5D6E7, 0, 0x01D9C2A3B4C5D6E7ull},  // other kinds are FILETIMEs
        {"EST5", 3, 0x01D9C2A3B4C5D6E7, 0, 0x01D9C2A3B4C5D6E7ull},
        {"UTC0", 0xFF, 5, 0, 5},
    };
    for (const auto& row : rows) {
        test::SetTimeZone(row.tz);
        EntryRecord record{};
        record.timeKind = row.kind;
        record.time = static_cast<uint64_t>(row.time);
        record.attributes = 0xFFFF;  // widened, not sign-extended
        vorx_FileInfo info;
        RecordToFileInfo(record, &info);
        EXPECT_EQ(info.lastWriteSeconds, row.seconds) << row.tz << " " << row.time;
        EXPECT_EQ(info.attributes, 0x0000FFFFu);
        if (row.ticks != kSkip) {
            EXPECT_EQ(
                (uint64_t{info.lastWriteTime.highDateTime} << 32) | info.lastWriteTime.lowDateTime,
                row.ticks == kAny ? static_cast<uint64_t>(kEpochTicks + row.seconds * 10000000)
                                  : row.ticks)
                << row.tz << " kind " << int{row.kind} << " " << row.time;
        }
    }
    test::SetTimeZone("EST5");
    EXPECT_EQ(platform::TimeZoneBiasMinutes(), 300);
    test::SetTimeZone("UTC0");
}

}  // namespace
}  // namespace vorx
