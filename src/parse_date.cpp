// Timestamp parser: the default mode's stamp, and the conversion of a clock
// reading as local standard time that every mode shares, so that the same
// reading gives the same time whichever way it was found.
#include "timing.h"

#include <climits>
#include <ctime>

namespace {

// Reads one integer as a %d conversion does: white space, an optional sign,
// then every decimal digit that follows. Returns the text after it, or
// nullptr when there is no number or it does not fit an int.
const char *scan_int(const char *s, int *out) {
  while (is_space(*s))
    ++s;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+')
    ++s;
  if (!is_digit(*s))
    return nullptr;
  // The magnitude never exceeds 2^31 inside the loop, so it cannot overflow.
  int64_t magnitude = 0;
  for (; is_digit(*s); ++s) {
    magnitude = magnitude * 10 + (*s - '0');
    if (magnitude > int64_t{INT_MAX} + 1)
      return nullptr;
  }
  if (!negative && magnitude > INT_MAX)
    return nullptr;
  *out = static_cast<int>(negative ? -magnitude : magnitude);
  return s;
}

struct fields {
  clock_reading clock;
  const char *seconds; // where the seconds field begins
};

// Reads the scan pattern "%d-%d-%dT%d:%d:%dZ" from text. Returns the text
// after the seconds, or nullptr when any field is missing or overflows.
const char *scan_fields(const char *text, fields *f) {
  static constexpr char separators[] = {'-', '-', 'T', ':', ':', '\0'};
  clock_reading &c = f->clock;
  int *field[] = {&c.year, &c.month, &c.day, &c.hour, &c.minute, &c.second};
  const char *s = text;
  for (int i = 0; i < 6; ++i) {
    f->seconds = s;
    s = scan_int(s, field[i]);
    if (s == nullptr)
      return nullptr;
    if (separators[i] != '\0' && *s++ != separators[i])
      return nullptr;
  }
  if (c.year < INT_MIN + 1900 || c.month < INT_MIN + 1)
    return nullptr;
  return s;
}

// The clock reading as local standard time of TZ, exactly as mktime gives
// it with every other field zero.
int64_t local_time(const clock_reading &c, int minute, int second) {
  std::tm tm{}; // tm_isdst 0: the clock reading is standard time
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return std::mktime(&tm);
}

// Whether the minute and second lie in their ranges, so that the time is
// the hour's first second plus what they add.
bool within_hour(const clock_reading &c) {
  return c.minute >= 0 && c.minute < 60 && c.second >= 0 && c.second < 60;
}

} // namespace

// Within an hour whose first and last second lie 3599 seconds apart no
// offset changes, so a minute and second in range add to the hour's first
// second; any other hour or field goes to the C library.
int64_t standard_time(const clock_reading &c, date_memo *memo) {
  if (memo == nullptr || !within_hour(c))
    return local_time(c, c.minute, c.second);
  if (!memo->has_hour || memo->year != c.year || memo->month != c.month ||
      memo->day != c.day || memo->hour != c.hour) {
    int64_t first = local_time(c, 0, 0);
    int64_t last = local_time(c, 59, 59);
    memo->has_hour = first != -1 && last - first == 3599;
    if (!memo->has_hour)
      return local_time(c, c.minute, c.second);
    memo->year = c.year;
    memo->month = c.month;
    memo->day = c.day;
    memo->hour = c.hour;
    memo->hour_time = first;
  }
  return memo->hour_time + c.minute * 60 + c.second;
}

bool minute_is_linear(const clock_reading &c, const date_memo *memo) {
  // A reading in range went through the memo's hour, which holds it when
  // that hour is linear.
  return memo->has_hour && within_hour(c);
}

void remember_minute(date_memo *memo, const char *text, std::size_t length,
                     seconds_read seconds, int64_t minute_time, int first,
                     int last) {
  bool kept = length <= minute_reach && std::memchr(text, 0, length) == nullptr;
  memo->minute_length = kept ? length : 0;
  std::memset(memo->minute, 0, minute_reach);
  std::memset(memo->minute_mask, 0, minute_reach);
  std::memcpy(memo->minute, text, memo->minute_length);
  std::memset(memo->minute_mask, 0xff, memo->minute_length);
  memo->seconds = seconds;
  memo->minute_time = minute_time;
  memo->first_second = first;
  memo->last_second = last;
}

int64_t parse_date_fully(const char *text, date_memo *memo) {
  fields f;
  if (scan_fields(text, &f) == nullptr)
    return -1;
  int64_t t = standard_time(f.clock, memo);
  if (memo != nullptr) {
    // Only a time from the memo's linear hour goes on by one a second.
    bool linear = minute_is_linear(f.clock, memo);
    remember_minute(memo, text,
                    linear ? static_cast<std::size_t>(f.seconds - text) : 0,
                    seconds_read::alone, t - f.clock.second, 0, 59);
  }
  return t;
}

bool standard_reading(int64_t t, clock_reading *c) {
  // Local standard time is UTC moved by the zone's standard offset, which
  // is what standard_time takes off the reading of t as UTC.
  std::time_t shifted = static_cast<std::time_t>(t);
  std::tm tm;
  for (int pass = 0; pass < 2; ++pass) {
    if (gmtime_r(&shifted, &tm) == nullptr)
      return false;
    *c = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
          tm.tm_hour,        tm.tm_min,     tm.tm_sec};
    if (pass == 1)
      break;
    int64_t as_utc = standard_time(*c, nullptr);
    if (as_utc == -1 && t != -1)
      return false;
    shifted = static_cast<std::time_t>(t + (t - as_utc));
  }
  return true;
}
