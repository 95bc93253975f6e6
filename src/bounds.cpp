// Bounds: START and END as typed, read by the first reading that fits. A
// number is seconds since the epoch, as it always was. A date, a text in
// FORMAT (whole or to one of its fields), now or a time before it, a day
// word and a time of day are read as the log's stamps are read, so that a
// bound selects the lines whose stamps read the same.
#include "stampcut.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// 9999-12-31T23:59:59Z: a number beyond it is no time of a log in seconds.
constexpr uint64_t last_second_of_9999 = 253402300799;
// 1970-01-02T00:00:00Z: a time bound before it is refused, so that none is
// ever 0 (no START, or no END) once its second is moved across the edge.
constexpr int64_t earliest_time = 86400;

// Whether text is wholly a number as strtoull reads it: white space may
// come before or after it, nothing else. *b gets its value, flagged when
// it lies past the year 9999 as written: without a minus sign, which wraps
// it around, and within 64 bits, beyond which it is the largest.
bool read_number(const char *text, bound *b) {
  char *rest;
  errno = 0;
  b->value = std::strtoull(text, &rest, 0);
  bool within = errno != ERANGE;
  if (rest == text)
    return false;
  while (is_space(*rest))
    ++rest;
  if (*rest != '\0')
    return false;
  while (is_space(*text))
    ++text;
  b->kind = within && *text != '-' && b->value > last_second_of_9999
                ? bound_kind::past_9999
                : bound_kind::number;
  b->rule = "a number";
  return true;
}

// Exactly n digits at p, whose value lies in [low, high], into *value;
// the text after them, or nullptr.
const char *read_digits(const char *p, int n, int low, int high, int *value) {
  if (p == nullptr)
    return nullptr;
  int v = 0;
  for (int i = 0; i < n; ++i, ++p) {
    if (!is_digit(*p))
      return nullptr;
    v = v * 10 + (*p - '0');
  }
  if (v < low || v > high)
    return nullptr;
  *value = v;
  return p;
}

// p followed by c, as the text after c; nullptr otherwise.
const char *after(const char *p, char c) {
  return p != nullptr && *p == c ? p + 1 : nullptr;
}

// A date as typed: its clock reading, and its offset when it has one.
struct typed_date {
  clock_reading clock;
  bool zoned;
  int64_t offset; // seconds east of UTC
};

// A zone after a time, as %z reads it. No zone at all leaves *d unzoned and
// p as it is; nullptr when a zone begins and is not one.
const char *read_zone(const char *p, typed_date *d) {
  if (*p != 'Z' && *p != 'z' && *p != '+' && *p != '-')
    return p;
  d->zoned = true;
  return read_offset(p, &d->offset);
}

// Whether text is wholly an ISO 8601 date: YYYY-MM-DD, then T or a space
// and HH:MM, HH:MM:SS or HH:MM:SS with a fraction (dropped), then a zone
// or none; blanks around it. A date without a time is its midnight, and
// has no zone.
bool read_date(const char *text, typed_date *d) {
  *d = typed_date{};
  clock_reading &c = d->clock;
  const char *p = read_digits(skip_blanks(text), 4, 0, 9999, &c.year);
  p = read_digits(after(p, '-'), 2, 1, 12, &c.month);
  p = read_digits(after(p, '-'), 2, 1, 31, &c.day);
  if (p != nullptr && (*p == 'T' || *p == ' ') && is_digit(p[1])) {
    p = read_digits(p + 1, 2, 0, 23, &c.hour);
    p = read_digits(after(p, ':'), 2, 0, 59, &c.minute);
    if (p != nullptr && *p == ':') {
      p = read_digits(p + 1, 2, 0, 60, &c.second);
      if (p != nullptr && (*p == '.' || *p == ',') && is_digit(p[1]))
        for (p += 2; is_digit(*p);)
          ++p;
    }
    if (p != nullptr)
      p = read_zone(p, d);
  }
  return p != nullptr && *skip_blanks(p) == '\0';
}

// Whether text is now or a time before it: "now", or "-N" or "now-N" with
// a unit, s, m, h or d, N in decimal; blanks around it. *ago gets the
// seconds before now, at most UINT64_MAX.
bool read_relative(const char *text, uint64_t *ago) {
  static constexpr char units[] = "smhd";
  static constexpr uint64_t unit_seconds[] = {1, 60, 3600, 86400};
  const char *p = skip_blanks(text);
  bool now = std::strncmp(p, "now", 3) == 0;
  if (now)
    p += 3;
  *ago = 0;
  if (*p == '-' && is_digit(p[1])) {
    uint64_t n = 0;
    for (++p; is_digit(*p); ++p)
      n = n > (UINT64_MAX - 9) / 10 ? UINT64_MAX : n * 10 + (*p - '0');
    const char *unit = *p != '\0' ? std::strchr(units, *p++) : nullptr;
    if (unit == nullptr)
      return false;
    uint64_t size = unit_seconds[unit - units];
    *ago = n > UINT64_MAX / size ? UINT64_MAX : n * size;
  } else if (!now) {
    return false;
  }
  return *skip_blanks(p) == '\0';
}

// A bound that names a second: START takes it in and END leaves it out, so
// that 03:30 to 03:31 is the minute 03:30. Records are compared over whole
// seconds, later than START and not later than END, so either way the bound
// is the second before. rule says what read it.
bound time_bound(int64_t t, const char *rule) {
  if (t < earliest_time)
    return {bound_kind::before_1970, 0, rule};
  return {bound_kind::time, static_cast<uint64_t>(t - 1), rule};
}

// Whether the stamps of format give instants (%z, %s, %Q), whose readings
// are those of the wall clock under TZ, summer time included; else a
// reading is local standard time, as every stamp's.
bool gives_instants(const stamp_format *format) {
  return format != nullptr && (format->has_zone || format->epoch_unit != 0);
}

// The reading of time t as the log's stamps read it; false when it has
// none.
bool reading_at(int64_t t, const stamp_format *format, clock_reading *c) {
  if (!gives_instants(format))
    return standard_reading(t, c);
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm;
  if (localtime_r(&tt, &tm) == nullptr)
    return false;
  *c = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
        tm.tm_hour,        tm.tm_min,     tm.tm_sec};
  return true;
}

// The time of reading c as the log's stamps read it, fields out of range
// carried over; -1 when it has none.
int64_t time_of(const clock_reading &c, const stamp_format *format) {
  if (!gives_instants(format))
    return standard_time(c, nullptr);
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1; // the wall clock's, summer or winter
  return std::mktime(&tm);
}

// A time of day at p: H:MM, HH:MM or HH:MM:SS, then a fraction (dropped)
// or none; hour 0 to 23, minute 0 to 59, second 0 to 60, into c. The text
// after it, or nullptr.
const char *read_time_of_day(const char *p, clock_reading *c) {
  c->second = 0;
  const char *q = read_digits(p, 2, 0, 23, &c->hour);
  if (q == nullptr || *q != ':')
    q = read_digits(p, 1, 0, 9, &c->hour);
  q = read_digits(after(q, ':'), 2, 0, 59, &c->minute);
  if (q != nullptr && *q == ':') {
    q = read_digits(q + 1, 2, 0, 60, &c->second);
    if (q != nullptr && (*q == '.' || *q == ',') && is_digit(q[1]))
      for (q += 2; is_digit(*q);)
        ++q;
  }
  return q;
}

// Whether text is wholly a time of day, blanks around it; into c.
bool read_clock(const char *text, clock_reading *c) {
  const char *p = read_time_of_day(skip_blanks(text), c);
  return p != nullptr && *skip_blanks(p) == '\0';
}

// Whether text is today, yesterday or tomorrow, alone or then blanks and a
// time of day; *days gets the day's distance from today and c the time of
// day, midnight when there is none.
bool read_day_word(const char *text, int *days, clock_reading *c) {
  static constexpr struct {
    const char *word;
    int days;
  } words[] = {{"today", 0}, {"yesterday", -1}, {"tomorrow", 1}};
  const char *p = skip_blanks(text);
  for (const auto &w : words) {
    std::size_t n = std::strlen(w.word);
    if (std::strncmp(p, w.word, n) != 0)
      continue;
    *days = w.days;
    *c = clock_reading{};
    p += n;
    if (*skip_blanks(p) == '\0')
      return true;
    return is_blank(*p) && read_clock(p, c);
  }
  return false;
}

// c's date with the time of day of clock.
clock_reading at_time_of_day(clock_reading c, const clock_reading &clock) {
  c.hour = clock.hour;
  c.minute = clock.minute;
  c.second = clock.second;
  return c;
}

// The latest second read as the time of day clock not later than
// reference, or with after the first later than it; -1 when there is none.
int64_t nearest_time_of_day(const clock_reading &clock, int64_t reference,
                            bool after, const stamp_format *format) {
  clock_reading c;
  if (!reading_at(reference, format, &c))
    return -1;
  c = at_time_of_day(c, clock);
  int64_t t = time_of(c, format);
  if (after ? t <= reference : t > reference) {
    c.day += after ? 1 : -1;
    t = time_of(c, format);
  }
  return t;
}

} // namespace

int64_t stamp_time_at(int64_t t, const stamp_format *format) {
  if (format != nullptr && (format->has_zone || format->epoch_unit != 0))
    return t;
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm;
  if (localtime_r(&tt, &tm) == nullptr)
    return -1;
  clock_reading c = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour,        tm.tm_min,     tm.tm_sec};
  return standard_time(c, nullptr);
}

bool names_time_of_day(const char *text) {
  clock_reading c;
  return read_clock(text, &c);
}

bound read_bound(const char *text, const bound_context &context,
                 const bound *start) {
  const stamp_format *format = context.format;
  const int64_t now = context.now;
  bound b;
  if (read_number(text, &b))
    return b;
  int64_t t;
  if (format != nullptr && format_whole(format, text, &t))
    return time_bound(t, "a text in FORMAT");
  typed_date d;
  if (read_date(text, &d)) {
    // Without -f a date's zone is ignored, as the stamps' zones are. Under
    // it the zone is applied, and a date without one is local standard
    // time, as a stamp is whose FORMAT has no %z.
    bool zoned = format != nullptr && !format->zone_ignored && d.zoned;
    return time_bound(zoned ? zoned_time(d.clock, d.offset)
                            : standard_time(d.clock, nullptr),
                      "a date");
  }
  uint64_t ago;
  if (read_relative(text, &ago)) {
    // An instant before 1970 has no reading that a stamp could have.
    if (ago >= static_cast<uint64_t>(now))
      return {bound_kind::before_1970, 0, "now or a time before it"};
    return time_bound(stamp_time_at(now - static_cast<int64_t>(ago), format),
                      "now or a time before it");
  }
  if (format != nullptr && format_prefix(format, text, &t))
    return time_bound(t, "a text in FORMAT to one of its fields");
  int days;
  clock_reading clock;
  if (read_day_word(text, &days, &clock)) {
    // The day is the wall clock's today under TZ, as date names it.
    std::time_t tt = static_cast<std::time_t>(now);
    std::tm tm;
    if (localtime_r(&tt, &tm) == nullptr)
      return {bound_kind::before_1970, 0, "a day word"};
    clock_reading today = {
        tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday + days, 0, 0, 0};
    return time_bound(time_of(at_time_of_day(today, clock), format),
                      "a day word");
  }
  if (read_clock(text, &clock)) {
    // START: the latest such second not later than the log's last line,
    // or than now; END: the first after START.
    int64_t reference = start != nullptr
                            ? static_cast<int64_t>(start->value + 1)
                        : context.last_line >= 0 ? context.last_line
                                                 : stamp_time_at(now, format);
    return time_bound(
        nearest_time_of_day(clock, reference, start != nullptr, format),
        "a time of day");
  }
  return {bound_kind::text, std::strtoull(text, nullptr, 0),
          "a number it "
          "begins with"};
}

bool read_bounds(run_args *args, const bound_context &context) {
  args->start = read_bound(args->start_text, context, nullptr);
  args->end = args->end_text != nullptr
                  ? read_bound(args->end_text, context, &args->start)
                  : bound{bound_kind::number, 0, "a number"};
  const struct {
    const char *which, *text;
    bound_kind kind;
  } bounds[] = {{"START", args->start_text, args->start.kind},
                {"END", args->end_text, args->end.kind}};
  for (const auto &b : bounds)
    if (b.kind == bound_kind::before_1970) {
      char shown[escaped_size];
      escape(b.text, std::strlen(b.text), shown);
      say("stampcut: %s \"%s\" is before 1970-01-02\n", b.which, shown);
      return false;
    }
  return true;
}
