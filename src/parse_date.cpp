// Timestamp parser: the one place where text becomes a time value, so that
// the search and the scan order lines by the same rule.
#include "stampcut.h"

#include <climits>
#include <ctime>

namespace {

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
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

} // namespace

int64_t parse_date(const char *text) {
  // Fields in order, each followed by the separator that must come next;
  // nothing after the seconds is examined.
  static constexpr char separators[] = {'-', '-', 'T', ':', ':', '\0'};
  int field[6];
  const char *s = text;
  for (int i = 0; i < 6; ++i) {
    s = scan_int(s, &field[i]);
    if (s == nullptr)
      return -1;
    if (separators[i] != '\0' && *s++ != separators[i])
      return -1;
  }
  if (field[0] < INT_MIN + 1900 || field[1] < INT_MIN + 1)
    return -1;
  std::tm tm{}; // tm_isdst 0: the clock reading is standard time
  tm.tm_year = field[0] - 1900;
  tm.tm_mon = field[1] - 1;
  tm.tm_mday = field[2];
  tm.tm_hour = field[3];
  tm.tm_min = field[4];
  tm.tm_sec = field[5];
  return std::mktime(&tm);
}
