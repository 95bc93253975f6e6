// The minute memo and the inline paths that time a line or record: private
// to the units that time pieces of a log (the parse, FORMAT matching, line
// timing, the search's probes and the scan), and to their tests.
#ifndef STAMPCUT_TIMING_H
#define STAMPCUT_TIMING_H

#include "stampcut.h"

// Bytes that the memo's minute compares at a text, however long the
// minute: a text parsed with a memo must have this many readable bytes,
// though it ends at its first zero byte.
constexpr std::size_t minute_reach = 32;

// How the seconds after a remembered minute are read.
enum class seconds_read : unsigned char {
  alone,     // one or two digits, then a non-digit: the default shape
  digits,    // one or two digits, whatever follows: a FORMAT's last %S
  by_format, // by the steps of a FORMAT that follow them too
};

// What a caller's conversions remember between its calls, so that lines
// of the same minute or hour cost little. Zero-initialise it before use; a
// memo serves one way of timing lines only.
struct date_memo {
  // The text of a match up to its seconds field, read as a minute in which
  // each second from first_second to last_second adds one to minute_time;
  // none when the length is 0. The mask is 0xff for each byte of the
  // minute, 0 after it.
  char minute[minute_reach];
  unsigned char minute_mask[minute_reach];
  std::size_t minute_length;
  seconds_read seconds;
  int64_t minute_time;
  int first_second, last_second;
  // One local hour whose conversion is known to be linear: the fields as
  // read and the time of the hour's first second.
  bool has_hour;
  int year, month, day, hour;
  int64_t hour_time;
};

// Whether text begins with the memo's minute. The minute holds no zero
// byte, so this is strncmp's answer, though all minute_reach bytes are
// compared at once, under the mask.
inline bool same_minute(const date_memo *memo, const char *text) {
  typedef unsigned char bytes16 __attribute__((vector_size(16)));
  static_assert(minute_reach == 2 * sizeof(bytes16), "two vectors");
  bytes16 differ[2];
  for (std::size_t i = 0; i < 2; ++i) {
    bytes16 t, m, k;
    std::memcpy(&t, text + 16 * i, sizeof t);
    std::memcpy(&m, memo->minute + 16 * i, sizeof m);
    std::memcpy(&k, memo->minute_mask + 16 * i, sizeof k);
    differ[i] = (t ^ m) & k;
  }
  typedef uint64_t words16 __attribute__((vector_size(16)));
  words16 w = reinterpret_cast<words16>(differ[0] | differ[1]);
  return memo->minute_length != 0 && (w[0] | w[1]) == 0;
}

// Remembers that the length bytes at text, followed by a second from first
// to last read as seconds says, read as minute_time plus that second.
// Nothing when length is 0, too long to keep, or takes in a zero byte.
void remember_minute(date_memo *memo, const char *text, std::size_t length,
                     seconds_read seconds, int64_t minute_time, int first,
                     int last);

// The time that the memo's minute gives text, which a full parse or match
// would give: when text begins with the minute and then seconds, read as
// the memo says, that the memo holds. Else -1, for the full parse to tell.
// Past the minute_reach bytes compared, no byte after the seconds' first
// non-digit is read, so a text that ends at one needs no zero there.
inline int64_t memo_time(const date_memo *memo, const char *text) {
  if (memo->seconds == seconds_read::by_format || !same_minute(memo, text))
    return -1;
  const char *s = text + memo->minute_length;
  if (!is_digit(s[0]))
    return -1;
  int second = s[0] - '0';
  if (is_digit(s[1]))
    second = second * 10 + (*++s - '0');
  bool fits = memo->seconds == seconds_read::digits || !is_digit(s[1]);
  return fits && second >= memo->first_second && second <= memo->last_second
             ? memo->minute_time + second
             : -1;
}

// Whether every second of c's minute converted by standard_time through
// memo lies one after the other: memo's hour holds the minute.
bool minute_is_linear(const clock_reading &c, const date_memo *memo);

// parse_date without the memo's minute: the text parsed in full, and its
// minute remembered in memo when given.
int64_t parse_date_fully(const char *text, date_memo *memo);

// Seconds since the epoch of the timestamp that begins text, a
// zero-terminated string, read as local standard time; -1 when text does
// not begin with a timestamp or the time cannot be converted. memo, when
// given, only saves work: the result is the same without it. Inline, so
// that a line of a minute already seen costs its caller no call.
inline int64_t parse_date(const char *text, date_memo *memo = nullptr) {
  // The same minute's text followed by one or two digits and a non-digit
  // is read by the full parse as that minute and those seconds; seconds
  // outside the memo's, and any other shape, take the full parse.
  int64_t t = memo != nullptr ? memo_time(memo, text) : -1;
  return t != -1 ? t : parse_date_fully(text, memo);
}

// Time of a record that begins at its first digit p and whose terminator,
// or the end of what has been read of it, is stop. The parse sees the
// record's own bytes only, up to its first window. The memo, when given,
// reads a record no further than its terminator, a non-digit, which then
// needs no zero.
inline int64_t record_time(char *p, char *stop, date_memo *memo) {
  int64_t t = memo != nullptr ? memo_time(memo, p) : -1;
  if (t != -1)
    return t;
  char *cut = timed_end(p, stop);
  char saved = *cut;
  *cut = '\0';
  t = parse_date_fully(p, memo);
  *cut = saved;
  return t;
}

// Time of the piece of a log that how cuts at p, up to its end (its
// terminator, or the end of what has been read of it): a record from its
// first digit p, or a whole line. The one way the scan and the search's
// probes time what they read.
inline int64_t piece_time(const timer &how, char *p, char *end,
                          date_memo *memo) {
  if (how.how == cutting::records)
    return record_time(p, end, memo);
  // A line that begins with the memo's minute has the memo's time: the
  // first place line_time would try is its first byte, and it would get
  // the same time there, from the same memo.
  int64_t t = memo != nullptr ? memo_time(memo, p) : -1;
  return t != -1 ? t : line_time(p, end, how.format, memo);
}

// The first digit in [p, end), or end, as find_digit finds it. A record
// most often begins at once, or after the LF of a CR LF; text without a
// digit (a hole of zero bytes that a copy-truncate leaves, a page of
// blanks) is passed over 16 bytes at a time.
inline char *find_record_digit(char *p, char *end) {
  for (char *plain = p + 2; p < end && p < plain; ++p)
    if (is_digit(*p))
      return p;
  typedef unsigned char bytes16 __attribute__((vector_size(16)));
  typedef uint64_t words16 __attribute__((vector_size(16)));
  for (; end - p >= 16; p += 16) {
    bytes16 v;
    std::memcpy(&v, p, sizeof v);
    words16 digits = reinterpret_cast<words16>(v - '0' < 10);
    if ((digits[0] | digits[1]) != 0)
      break;
  }
  return find_digit(p, end);
}

#endif
