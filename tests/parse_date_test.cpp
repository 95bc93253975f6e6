#include "timing.h"
#include "tz.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct parse_case {
  const char *text;
  int64_t want;
};

void expect_all(const char *zone, std::initializer_list<parse_case> cases) {
  scoped_tz tz(zone);
  for (const parse_case &c : cases)
    EXPECT_EQ(parse_date(c.text), c.want) << zone << " \"" << c.text << '"';
}

TEST(ParseDate, AcceptsWhatTheScanPatternAccepts) {
  expect_all("UTC", {
                        {"1970-01-01T00:01:00Z", 60},
                        {"1970-01-01T00:01:00", 60},
                        {"2024-03-01T12:00:05Z web-01 GET /", 1709294405},
                        {"2024-3-1T2:0:5Z", 1709258405},
                        {"0002024-003-01T02:00:05Z", 1709258405},
                        {" \t\v\f\r\n2024-03-01T12:00:05Z", 1709294405},
                        {"2024- 03-\t01T 12:\n00:  05Z", 1709294405},
                        {"+2024-+03-01T12:00:05Z", 1709294405},
                        {"2024-03-01T12:00:05.999Z", 1709294405},
                        {"2024-03-01T12:00:05+02:00", 1709294405},
                        {"2024-03-01T12:00:05", 1709294405},
                        {"2024-03-01T12:00:05]", 1709294405},
                        {"1969-12-31T23:59:58Z", -2},
                        // Indistinguishable from a failure, as the value says.
                        {"1969-12-31T23:59:59Z", -1},
                    });
}

TEST(ParseDate, RejectsOtherShapes) {
  expect_all("UTC", {
                        {"", -1},
                        {"   \n ", -1},
                        {"2024-03-01 12:00:05Z", -1},
                        {"2024-03-01t12:00:05Z", -1},
                        {"[2024-03-01T12:00:05Z]", -1},
                        {"x2024-03-01T12:00:05Z", -1},
                        {"2024/03/01T12:00:05Z", -1},
                        {"2024 -03-01T12:00:05Z", -1},
                        {"2024-03-01T12 :00:05Z", -1},
                        {"2024-03-01T12:00", -1},
                        {"2024-03-01T12:00:", -1},
                        {"2024-03-01T12:00:-Z", -1},
                        {"2024-03-01T12:00:+ 5Z", -1},
                        {"2024-03-01T12:00:--5Z", -1},
                        {"0x7e8-03-01T12:00:05Z", -1},
                        // The parse stops at a zero byte, as at a record's end.
                        {"2024-03-01T12:00\0:05Z", -1},
                    });
}

TEST(ParseDate, CarriesOutOfRangeFieldsOver) {
  expect_all("UTC", {
                        {"2023-13-01T00:00:00Z", 1704067200},
                        {"2024-03-00T00:00:00Z", 1709164800},
                        {"2024-03-01T23:59:60Z", 1709337600},
                        {"2024-03-01T24:00:00Z", 1709337600},
                        {"2024-01-01T00:00:-1Z", 1704067199},
                        {"2024-01-01T00:00:2147483647Z", 3851550847},
                        {"2024-01-01T00:00:-2147483648Z", -443416448},
                    });
}

TEST(ParseDate, FieldsThatDoNotFitAnIntGiveNoTime) {
  expect_all("UTC", {
                        {"2147483648-01-01T00:00:00Z", -1},
                        {"99999999999999999999-01-01T00:00:00Z", -1},
                        {"2024-4294967297-01T00:00:00Z", -1},
                        {"2024-01-01T00:00:2147483648Z", -1},
                        {"2024-01-01T00:00:-2147483649Z", -1},
                        {"-2147483648-01-01T00:00:00Z", -1},
                        {"-2147481749-01-01T00:00:00Z", -1},
                        {"2024--2147483648-01T00:00:00Z", -1},
                    });
}

TEST(ParseDate, ReadsTheClockAsLocalStandardTime) {
  // Summer and winter alike: no daylight-saving hour is ever applied.
  expect_all("Europe/Berlin", {
                                  {"2024-01-15T12:00:00Z", 1705320000 - 3600},
                                  {"2024-07-01T12:00:00Z", 1719835200 - 3600},
                              });
  expect_all("America/New_York",
             {
                 {"2024-01-15T12:00:00Z", 1705320000 + 5 * 3600},
                 {"2024-07-01T12:00:00Z", 1719835200 + 5 * 3600},
             });
  expect_all("Asia/Kolkata",
             {{"2024-07-01T12:00:00Z", 1719835200 - 5 * 3600 - 1800}});
  expect_all("UTC-1", {{"2024-07-01T12:00:00Z", 1719835200 - 3600}});
}

TEST(ReadBound, ReadsTimesAsTheLogsStampsAreRead) {
  const auto number = bound_kind::number, time = bound_kind::time,
             text = bound_kind::text, early = bound_kind::before_1970;
  // Now, in winter and in summer (14:00 on the wall in Berlin).
  constexpr int64_t T = 1709294400, summer = 1719835200;
  constexpr uint64_t at_0330 = 1709263799; // 03:30Z, less its own second
  // 13:45 on the wall, read as winter time as a stamp of it is.
  constexpr uint64_t wall_1345 = summer - 900 + 3600 - 1;
  const char *const berlin = "Europe/Berlin", *const iso = "%F %T%z",
                    *const clf = "%d/%b/%Y:%T %z";
  const struct {
    const char *zone;
    int64_t now;
    const char *format, *text;
    bound_kind kind;
    uint64_t value;
  } cases[] = {
      {"UTC", T, nullptr, "2024-03-01", time, 1709251199},
      {"UTC", T, nullptr, " 2024-03-01 03:30\t", time, at_0330},
      {"UTC", T, nullptr, "2024-03-01T03:30:00.9+02:00", time, at_0330},
      {"UTC", T, nullptr, "2024-03-01T03:30:00,5-0530", time, at_0330},
      {"UTC", T, nullptr, "2024-03-01T03:30+02", time, at_0330},
      {"UTC", T, nullptr, "1970-01-02", time, 86399},
      {"UTC", T, nullptr, "1970-01-01T23:59:59Z", early, 0},
      {"UTC", T, nullptr, " now-0s ", time, T - 1},
      {"UTC", T, nullptr, "now-015m", time, T - 901},
      {"UTC", T, nullptr, "-99999999999999999999d", early, 0},
      {"UTC", T, nullptr, "253402300799", number, 253402300799},
      {"UTC", T, nullptr, "2024-03-01T24:00", text, 2024},
      {"UTC", T, nullptr, "2024-3-1T03:30", text, 2024},
      {"UTC", T, nullptr, "2024-03-01T03:30:0", text, 2024},
      {"UTC", T, nullptr, "2024-03-01Z", text, 2024},
      {"UTC", T, nullptr, "now+5m", text, 0},
      {"UTC", T, nullptr, "-1h30m", text, UINT64_MAX},
      {"UTC", T, nullptr, "nowhere", text, 0},
      {berlin, summer, nullptr, "-15m", time, wall_1345},
      {berlin, summer, nullptr, "2024-07-01T13:45+02:00", time, wall_1345},
      {berlin, summer, iso, "-15m", time, summer - 901},
      {berlin, summer, iso, "2024-07-01T13:45+02:00", time, summer - 901},
      {berlin, summer, iso, "2024-07-01T13:45", time, wall_1345},
      {"UTC", T, clf, "01/Jan/1960:00:00:00 +0000", early, 0},
      {"UTC", T, "%s", "1709263800", number, 1709263800},
      // Day words: midnight of the run's day by the wall clock, then read
      // as the stamps are; in Berlin's summer that is 22:00Z, read as
      // 23:00Z, unless the stamps give instants.
      {"UTC", T, nullptr, "today", time, 1709251199},
      {"UTC", T, nullptr, " yesterday  23:50 ", time, 1709250599},
      {"UTC", T, nullptr, "tomorrow", time, 1709337599},
      {"UTC", T, nullptr, "today 03:30:05.5", time, 1709263804},
      {berlin, summer, nullptr, "today", time, 1719788399},
      {berlin, summer, nullptr, "yesterday 23:50", time, 1719787799},
      {berlin, summer, iso, "today", time, 1719784799},
      {"UTC", T, nullptr, "today3:30", text, 0},
      {"UTC", T, nullptr, "yesterdy", text, 0},
      // A time of day as START: the latest not after now (12:00) here.
      {"UTC", T, nullptr, "03:30", time, at_0330},
      {"UTC", T, nullptr, "3:30:05,1", time, at_0330 + 5},
      {"UTC", T, nullptr, "13:00", time, 1709211599},
      {"UTC", T, nullptr, "12:00:00", time, T - 1},
      {"UTC", T, nullptr, "3:3", text, 3},
      {"UTC", T, nullptr, "24:00", text, 24},
      {"UTC", T, nullptr, "03:60", text, 3},
      // FORMAT to one of its fields, the rest at their least.
      {"UTC", T, "%b %e %H:%M:%S", "Mar  1 12:00", time, T - 1},
      {"UTC", T, "%b %e %H:%M:%S", "Mar  1 ", time, 1709251199},
      {"UTC", T, "%Y-%m-%d %H:%M:%S", "2024-03-01 10:15", time, 1709288099},
      {"UTC", T, "%Y-%m-%d %H:%M:%S", "2024-03-01 10:", text, 2024},
  };
  for (const auto &c : cases) {
    scoped_tz tz(c.zone);
    stamp_format f;
    char why[why_size];
    ASSERT_TRUE(c.format == nullptr || compile_format(c.format, &f, why));
    if (c.format != nullptr)
      set_reference(&f, c.now);
    bound b = read_bound(
        c.text, bound_context{c.format != nullptr ? &f : nullptr, c.now, -1},
        nullptr);
    EXPECT_EQ(static_cast<int>(b.kind), static_cast<int>(c.kind)) << c.text;
    EXPECT_EQ(b.value, c.value) << c.zone << " \"" << c.text << '"';
  }
}

} // namespace
