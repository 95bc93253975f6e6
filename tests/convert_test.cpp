// The parse remembers conversions between calls; these compare it with a
// plain mktime over many dates and zones, sorted as logs are.
#include "timing.h"
#include "tz.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

const char *const zones[] = {
    "UTC",           "Europe/Berlin",       "America/New_York",
    "Asia/Kolkata",  "Australia/Lord_Howe", "Pacific/Chatham",
    "Europe/Moscow", "America/St_Johns",    "EST5EDT,M3.2.0,M11.1.0",
};

int64_t reference(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return std::mktime(&tm);
}

// Parses the clock reading through memo and checks it against mktime.
// Where a change of standard offset turns the clock back, a reading occurs
// twice, and mktime picks one by the calls made before it: there either of
// its answers is right.
void check(date_memo *memo, int y, int mo, int d, int h, int mi, int s) {
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.5Z", y, mo, d,
                h, mi, s);
  int64_t got = parse_date(text, memo);
  if (got == reference(y, mo, d, h, mi, s))
    return;
  reference(y, mo, d, h, 59, 59);
  int64_t after_late = reference(y, mo, d, h, mi, s);
  reference(y, mo, d, h, 0, 0);
  int64_t after_early = reference(y, mo, d, h, mi, s);
  ASSERT_NE(after_late, after_early) << text << " TZ=" << std::getenv("TZ");
  ASSERT_TRUE(got == after_late || got == after_early)
      << got << " for " << text << " TZ=" << std::getenv("TZ");
}

TEST(Conversion, MatchesMktimeOnRandomHours) {
  for (const char *zone : zones) {
    scoped_tz tz(zone);
    std::mt19937 rng(42);
    auto in = [&rng](int lo, int hi) {
      return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    date_memo memo{};
    for (int cluster = 0; cluster < 20000; ++cluster) {
      // Mostly ordinary dates; some far years and out-of-range fields.
      bool odd = in(0, 9) == 0;
      int y = odd ? in(-500, 30000) : in(1900, 2100);
      int mo = odd ? in(-2, 15) : in(1, 12);
      int d = odd ? in(-3, 34) : in(1, 31);
      int h = odd ? in(-2, 26) : in(0, 23);
      for (int i = 0; i < 4; ++i) {
        bool odd_clock = in(0, 19) == 0;
        check(&memo, y, mo, d, h, odd_clock ? in(-5, 65) : in(0, 59),
              odd_clock ? in(-5, 65) : in(0, 60));
      }
    }
  }
}

TEST(Conversion, MatchesMktimeThroughEveryOffsetChange) {
  for (const char *zone : zones) {
    scoped_tz tz(zone);
    // Days whose midnights do not lie a day apart hold a change of standard
    // offset (New York's noon of 1883-11-18 among them, within an hour);
    // every minute of such a day goes through the memo in order.
    std::vector<std::tm> days;
    for (int y = 1800; y <= 2100; ++y)
      for (int mo = 1; mo <= 12; ++mo)
        for (int d = 1; d <= 28; ++d)
          if (reference(y, mo, d + 1, 0, 0, 0) - reference(y, mo, d, 0, 0, 0) !=
              86400) {
            std::tm tm{};
            tm.tm_year = y;
            tm.tm_mon = mo;
            tm.tm_mday = d;
            days.push_back(tm);
          }
    std::mt19937 rng(7);
    for (const std::tm &day : days) {
      date_memo memo{};
      // Minute and second 60 carry into the next hour, where the offset
      // may differ.
      for (int h = 0; h < 24; ++h)
        for (int mi = 0; mi <= 60; ++mi)
          for (int s : {0, static_cast<int>(rng() % 60), 59, 60})
            check(&memo, day.tm_year, day.tm_mon, day.tm_mday, h, mi, s);
    }
  }
}

} // namespace
