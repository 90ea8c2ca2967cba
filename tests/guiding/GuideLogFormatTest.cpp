// The guide log's lines and the graph's statistics, from plain values.
#include "GuideLogFormat.h"
#include "GuideHistory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::tm at(int year, int month, int day, int hour, int minute = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return t;
}

GuideTick measured(float ex, float ey, MountMove sent, unsigned short level) {
    GuideTick t;
    t.moveSent = true;
    t.move = sent;
    t.ex = t.measuredEx = ex;
    t.ey = t.measuredEy = ey;
    t.level = level;
    return t;
}

GuideTick dropped(GuideRejection why, float ex, float ey, unsigned short level) {
    GuideTick t;
    t.rejection = why;
    t.measuredEx = ex;
    t.measuredEy = ey;
    t.level = level;
    return t;
}

} // namespace

TEST(GuideLogFormat, NightChangesAtNoon) {
    const struct {
        std::tm local;
        CalendarDate night;
    } rows[] = {
        {at(2026, 12, 7, 11, 59), {2026, 12, 6}}, {at(2026, 12, 7, 12, 0), {2026, 12, 7}},
        {at(2026, 12, 7, 23, 59), {2026, 12, 7}}, {at(2027, 1, 1, 3, 0), {2026, 12, 31}},
        {at(2024, 3, 1, 6, 0), {2024, 2, 29}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(logTimestamp(r.local));
        EXPECT_EQ(nightOf(r.local), r.night);
    }
    EXPECT_EQ(guideLogFileName({2026, 1, 5}), "Zermic_GuideLog_2026-01-05.txt");
    EXPECT_EQ(logTimestamp(at(2026, 1, 5, 3, 7)), "2026-01-05 03:07:00");
}

TEST(GuideLogFormat, EntryLinesGiveErrorsPulsesAndDropReasons) {
    GuideParams p = loadGuideParams(SuiviPrm{});
    GuideParams exchanged = p;
    exchanged.exchange = 1;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        int frame;
        double seconds;
        GuideTick tick;
        const GuideParams& params;
        std::string line;
    } rows[] = {
        // Negative values move backward by 1 - v: W and S; the raw and guide
        // distances are the errors turned to the mount axes (d2 = -ey).
        {1, 2.5, measured(0.5f, -0.25f, {-50, -25}, 1234), p,
         "1,2.500,\"Mount\",0.500,-0.250,0.500,0.250,0.500,0.250,51,W,26,S,,,1234,,0"},
        // Exchanged, axis 1's move went out second: RA is still axis 1.
        {7, 12.0004, measured(0.5f, -0.25f, {-25, 51}, 1234), exchanged,
         "7,12.000,\"Mount\",0.500,-0.250,0.500,0.250,0.500,0.250,51,E,26,S,,,1234,,0"},
        {2, 3.0, measured(0.0f, 0.0f, {0, 0}, 900), p,
         "2,3.000,\"Mount\",0.000,0.000,0.000,0.000,0.000,0.000,0,,0,,,,900,,0"},
        {3, 4.0, dropped(GuideRejection::StarLost, nan, nan, 0), p,
         "3,4.000,\"DROP\",,,,,,,,,,,,,0,,3,\"Etoile perdue\""},
        {9, 10.0, dropped(GuideRejection::TooFar, 25.5f, -1.25f, 3000), p,
         "9,10.000,\"DROP\",,,,,,,,,,,,,3000,,6,\"Deplacement 25.500 / -1.250 px au-dela du "
         "maximum 20 px\""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.frame);
        EXPECT_EQ(guideLogEntry(r.frame, r.seconds, r.tick, r.params), r.line + "\n");
    }
    // The frame carries 16 bits of magnitude: the log says what the mount got.
    EXPECT_EQ(pulseOf(70000).duration, 70000 - 65536);
    EXPECT_EQ(pulseOf(-70000).duration, 70001 - 65536);
}

TEST(GuideHistory, RmsLeavesDroppedImagesOutAndKeepsTheLastHundred) {
    GuideHistory h;
    const GraphPoint series[] = {
        {1, 0, 0, 0, false},  {3, 2, 0, 0, false}, {100, 100, 0, 0, true},
        {-1, 2, 0, 0, false}, {1, 0, 0, 0, false},
    };
    for (const GraphPoint& p : series)
        h.add(p);
    GuideStats s = h.stats();
    EXPECT_EQ(s.ticks, 5);
    EXPECT_EQ(s.measured, 4);
    EXPECT_NEAR(s.rms1, std::sqrt(2.0), 1e-9);
    EXPECT_NEAR(s.rms2, 1.0, 1e-9);
    EXPECT_NEAR(s.total, std::sqrt(3.0), 1e-9);

    // Past the capacity the oldest go: only the last hundred count.
    for (int i = 0; i < GuideHistory::kCapacity; ++i)
        h.add(GraphPoint{i % 2 ? 0.5f : -0.5f, 0.25f, 0, 0, false});
    s = h.stats();
    EXPECT_EQ(s.ticks, GuideHistory::kCapacity);
    EXPECT_EQ(s.measured, GuideHistory::kCapacity);
    EXPECT_NEAR(s.rms1, 0.5, 1e-9);
    EXPECT_NEAR(s.rms2, 0.0, 1e-9);
    EXPECT_FLOAT_EQ(h.at(0).e1, -0.5f);
}
