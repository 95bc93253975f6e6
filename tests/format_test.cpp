// The minute memo may only save work: a FORMAT's time with it must be what
// a match without it gives, where a minute's seconds fall on two sides of
// the year rule's limit, of 1970, or of what %z reads.
#include "timing.h"
#include "tz.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(FormatMemo, GivesWhatAMatchWithoutItGives) {
  const struct {
    const char *zone, *format;
    int64_t reference;
    std::vector<const char *> texts;
  } cases[] = {
      // A day after 2024-01-01T00:00:00Z, then past it: the year before.
      {"UTC", "%b %e %T", 1704067200, {"Jan  2 00:00:00", "Jan  2 00:00:01"}},
      {"UTC", "%b %e %T", 1704067200, {"Jan  2 00:00:01", "Jan  2 00:00:00"}},
      // A day after 2023-12-31T00:00:00Z, in the year after, then past it.
      {"UTC", "%b %e %T", 1703980800, {"Jan  1 00:00:00", "Jan  1 00:00:01"}},
      // Liberia's clock ran 44:30 behind UTC: 1970 began at 23:15:30.
      {"Africa/Monrovia",
       "%F %T",
       0,
       {"1969-12-31 23:15:45", "1969-12-31 23:15:10"}},
      // A year read after the seconds.
      {"UTC",
       "[%a %b %d %T %Y]",
       0,
       {"[Fri Mar 01 10:15:02 2024]", "[Fri Mar 01 10:15:03 2019]"}},
      // %z takes two digits after a colon as minutes.
      {"UTC", "%F %z:%S", 0, {"2024-03-01 +02:5", "2024-03-01 +02:55"}},
  };
  for (const auto &c : cases) {
    scoped_tz tz(c.zone);
    stamp_format f;
    char why[why_size];
    ASSERT_TRUE(compile_format(c.format, &f, why)) << c.format;
    set_reference(&f, c.reference);
    date_memo memo{};
    for (const char *text : c.texts) {
      // The memo compares minute_reach bytes, past the text's end.
      const std::string padded = text + std::string(minute_reach, '\0');
      EXPECT_EQ(format_time(&f, padded.c_str(), &memo),
                format_time(&f, text, nullptr))
          << c.zone << " " << c.format << " \"" << text << '"';
    }
  }
}

} // namespace
