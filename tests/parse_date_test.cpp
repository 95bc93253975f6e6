#include "stampcut.h"
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

} // namespace
