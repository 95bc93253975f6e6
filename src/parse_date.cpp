// Timestamp parser: the one place where text becomes a time value, so that
// the search and the scan order lines by the same rule.
#include "stampcut.h"

#include <climits>
#include <ctime>

namespace {

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

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
  int year, month, day, hour, minute, second;
  const char *seconds; // where the seconds field begins
};

// Reads the scan pattern "%d-%d-%dT%d:%d:%dZ" from text. Returns the text
// after the seconds, or nullptr when any field is missing or overflows.
const char *scan_fields(const char *text, fields *f) {
  static constexpr char separators[] = {'-', '-', 'T', ':', ':', '\0'};
  int *field[] = {&f->year, &f->month,  &f->day,
                  &f->hour, &f->minute, &f->second};
  const char *s = text;
  for (int i = 0; i < 6; ++i) {
    f->seconds = s;
    s = scan_int(s, field[i]);
    if (s == nullptr)
      return nullptr;
    if (separators[i] != '\0' && *s++ != separators[i])
      return nullptr;
  }
  if (f->year < INT_MIN + 1900 || f->month < INT_MIN + 1)
    return nullptr;
  return s;
}

// The clock reading as local standard time of TZ, exactly as mktime gives
// it with every other field zero.
int64_t local_time(int year, int month, int day, int hour, int minute,
                   int second) {
  std::tm tm{}; // tm_isdst 0: the clock reading is standard time
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return std::mktime(&tm);
}

// Whether the minute and second lie in their ranges, so that the time is
// the hour's first second plus what they add.
bool within_hour(const fields &f) {
  return f.minute >= 0 && f.minute < 60 && f.second >= 0 && f.second < 60;
}

// local_time through the memo's hour. Within an hour whose first and last
// second lie 3599 seconds apart no offset changes, so a minute and second
// in range add to the hour's first second; any other hour or field goes to
// the C library.
int64_t convert(const fields &f, date_memo *memo) {
  if (memo == nullptr || !within_hour(f))
    return local_time(f.year, f.month, f.day, f.hour, f.minute, f.second);
  if (!memo->has_hour || memo->year != f.year || memo->month != f.month ||
      memo->day != f.day || memo->hour != f.hour) {
    int64_t first = local_time(f.year, f.month, f.day, f.hour, 0, 0);
    int64_t last = local_time(f.year, f.month, f.day, f.hour, 59, 59);
    memo->has_hour = first != -1 && last - first == 3599;
    if (!memo->has_hour)
      return local_time(f.year, f.month, f.day, f.hour, f.minute, f.second);
    memo->year = f.year;
    memo->month = f.month;
    memo->day = f.day;
    memo->hour = f.hour;
    memo->hour_time = first;
  }
  return memo->hour_time + f.minute * 60 + f.second;
}

// Parses text in full and, when memo is given, remembers its minute.
// Kept out of line so that the memo's hit stays a few instructions.
__attribute__((noinline)) int64_t parse_fully(const char *text,
                                              date_memo *memo) {
  fields f;
  if (scan_fields(text, &f) == nullptr)
    return -1;
  int64_t t = convert(f, memo);
  if (memo != nullptr) {
    // Only a time from the memo's linear hour goes on by one a second.
    bool linear = memo->has_hour && within_hour(f);
    std::size_t m = static_cast<std::size_t>(f.seconds - text);
    memo->minute_length = linear && m <= sizeof memo->minute ? m : 0;
    std::memcpy(memo->minute, text, memo->minute_length);
    memo->minute_time = t - f.second;
  }
  return t;
}

} // namespace

int64_t parse_date(const char *text, date_memo *memo) {
  // The same minute's text followed by one or two digits and a non-digit
  // is read by the full parse as that minute and those seconds; seconds of
  // 60 and more, and any other shape, take the full parse.
  if (memo != nullptr && memo->minute_length != 0 &&
      std::strncmp(text, memo->minute, memo->minute_length) == 0) {
    const char *s = text + memo->minute_length;
    if (is_digit(s[0])) {
      int second = s[0] - '0';
      if (is_digit(s[1]))
        second = second * 10 + (*++s - '0');
      if (!is_digit(s[1]) && second < 60)
        return memo->minute_time + second;
    }
  }
  return parse_fully(text, memo);
}
