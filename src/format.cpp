// Timestamp formats (-f): a FORMAT compiled once into a fixed table of
// steps, matched against a line's bytes, and the reading converted to a
// time as the default mode converts its stamps.
#include "timing.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>

namespace {

enum op : unsigned char {
  op_literal, // arg: the byte
  op_blanks,  // any run of spaces and tabs, none included
  op_year,
  op_short_year,
  op_month,
  op_day,
  op_hour,
  op_minute,
  op_second,
  op_month_abbr,
  op_month_name,
  op_weekday,
  op_offset,
  op_zone_name,
  op_epoch,
  op_epoch_millis,
  op_digits,
};

// Flags in the arg of a step that reads digits.
constexpr unsigned char takes_fraction = 1; // a fraction FORMAT does not name
constexpr unsigned char whole_run = 2;      // no digit may follow

enum field {
  f_year,
  f_month,
  f_day,
  f_hour,
  f_minute,
  f_second,
  f_epoch,
  f_ignored,
  field_count
};

// What a match read. Fields not read are 0.
struct reading {
  int64_t value[field_count];
  int64_t offset; // seconds east of UTC, when zoned
  bool zoned;
  const char *seconds; // where the last seconds field began
};

constexpr const char *month_names[] = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};
constexpr const char *day_names[] = {"monday",   "tuesday", "wednesday",
                                     "thursday", "friday",  "saturday",
                                     "sunday"};
constexpr unsigned char month_lengths[] = {7, 8, 5, 5, 3, 4, 4, 6, 9, 7, 8, 8};
constexpr unsigned char day_lengths[] = {6, 7, 9, 8, 6, 8, 6};

// Whether the text at p spells the first n letters of name, a lower-case
// word, in any case. Stops at the first byte that differs, so it never
// passes the zero byte that ends the text.
bool spells(const char *p, const char *name, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if ((p[i] | 0x20) != name[i])
      return false;
  return true;
}

// The text after the name of names[] at p, in full or by its first three
// letters as the step allows (in full first); *index gets its index.
// nullptr when none is there.
const char *read_name(const char *p, op step, int64_t *index) {
  bool months = step != op_weekday;
  const char *const *names = months ? month_names : day_names;
  const unsigned char *lengths = months ? month_lengths : day_lengths;
  std::size_t count = months ? 12 : 7;
  for (std::size_t k = 0; k < count; ++k) {
    std::size_t n = lengths[k];
    bool whole = step != op_month_abbr && spells(p, names[k], n);
    if (whole || (step != op_month_name && spells(p, names[k], 3))) {
      *index = static_cast<int64_t>(k);
      return p + (whole ? n : 3);
    }
  }
  return nullptr;
}

int two_digits(const char *p) {
  return (p[0] - '0') * 10 + (p[1] - '0');
}

// Whether step is one of FORMAT's fields, whose end a bound may stop at.
bool is_field(unsigned char step) {
  return step != op_literal && step != op_blanks;
}

// The steps whose runs a match has read, a bit each.
typedef uint64_t step_set[format_steps / 64];

bool has_step(const step_set &set, std::size_t i) {
  return (set[i / 64] >> (i % 64) & 1) != 0;
}

// Whether step i of a match, at p, would read a run that step i read in a
// match that then failed: from p the run ends where that one did, and
// every step after it meets what it met there.
bool failed_before(const format_runs *runs, std::size_t i, const char *p) {
  return runs != nullptr && has_step(runs->known, i) && runs->from[i] <= p &&
         p < runs->to[i];
}

// Notes in runs, when given, that step i read the run [p, q).
void note_run(format_runs *runs, step_set &read, std::size_t i, const char *p,
              const char *q) {
  if (runs == nullptr)
    return;
  runs->from[i] = p;
  runs->to[i] = q;
  read[i / 64] |= uint64_t{1} << (i % 64);
}

// Matches the steps of f from step from on at p. Returns the text after
// the match, or nullptr. Each step that reads a number names its field,
// width and range, and one shared tail reads the digits. The steps that
// read a run of any length (blanks, %Z, %f) note it in runs, and set
// their bits in read. With prefix, the match also ends after the first
// field at which only blanks are left of the text.
const char *match_steps(const stamp_format *f, std::size_t from, const char *p,
                        reading *r, format_runs *runs, step_set &read,
                        bool prefix) {
  for (std::size_t i = from; i < f->steps; ++i) {
    if (prefix && i > from && is_field(f->op[i - 1]) && *skip_blanks(p) == '\0')
      return p;
    op step = static_cast<op>(f->op[i]);
    field into = f_ignored;
    int least = 1, most = 2;
    uint64_t low = 0, high = UINT64_MAX;
    switch (step) {
    case op_literal:
      if (*p != static_cast<char>(f->arg[i]))
        return nullptr;
      ++p;
      continue;
    case op_blanks: {
      if (failed_before(runs, i, p))
        return nullptr;
      const char *run = p;
      p = skip_blanks(p);
      note_run(runs, read, i, run, p);
      continue;
    }
    case op_month_abbr:
    case op_month_name:
    case op_weekday: {
      int64_t index;
      p = read_name(p, step, &index);
      if (p == nullptr)
        return nullptr;
      if (step != op_weekday)
        r->value[f_month] = index + 1;
      continue;
    }
    case op_offset:
      p = read_offset(p, &r->offset);
      if (p == nullptr)
        return nullptr;
      r->zoned = !f->zone_ignored;
      continue;
    case op_zone_name: {
      if (!is_letter(*p) || failed_before(runs, i, p))
        return nullptr;
      const char *run = p;
      while (is_letter(*p))
        ++p;
      note_run(runs, read, i, run, p);
      continue;
    }
    case op_year:
      into = f_year, least = most = 4, high = 9999;
      break;
    case op_short_year:
      into = f_year, least = most = 2, high = 99;
      break;
    case op_month:
      into = f_month, low = 1, high = 12;
      break;
    case op_day:
      into = f_day, low = 1, high = 31;
      break;
    case op_hour:
      into = f_hour, high = 23;
      break;
    case op_minute:
      into = f_minute, high = 59;
      break;
    case op_second:
      into = f_second, high = 60;
      r->seconds = p;
      break;
    case op_epoch:
    case op_epoch_millis:
      into = f_epoch, least = f->epoch_least, most = f->epoch_most;
      break;
    case op_digits:
      if (failed_before(runs, i, p))
        return nullptr;
      most = INT_MAX;
      break;
    }
    const char *run = p;
    uint64_t v = 0;
    int n = 0;
    for (; n < most && is_digit(*p); ++n, ++p)
      v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (step == op_digits)
      note_run(runs, read, i, run, p);
    if (n < least || v < low || v > high ||
        ((f->arg[i] & whole_run) != 0 && is_digit(*p)))
      return nullptr;
    if ((f->arg[i] & takes_fraction) != 0 && (*p == '.' || *p == ',') &&
        is_digit(p[1]))
      for (p += 2; is_digit(*p); ++p) {
      }
    if (step == op_short_year)
      v += v < 69 ? 2000 : 1900;
    r->value[into] = static_cast<int64_t>(v);
  }
  return p;
}

// match_steps, keeping in runs the runs of a match that fails: from the
// end of each, the steps after it fail again. A match that succeeds has
// overwritten the runs its steps read, which are then known no more.
const char *match(const stamp_format *f, std::size_t from, const char *p,
                  reading *r, format_runs *runs, bool prefix = false) {
  step_set read = {};
  const char *rest = match_steps(f, from, p, r, runs, read, prefix);
  if (runs != nullptr)
    for (std::size_t k = 0; k < format_steps / 64; ++k)
      runs->known[k] = rest == nullptr ? runs->known[k] | read[k]
                                       : runs->known[k] & ~read[k];
  return rest;
}

// Days from 1970-01-01 to the first day of month (1 to 12) of year, in
// the Gregorian calendar.
int64_t days_to_month(int64_t year, int64_t month) {
  year -= month <= 2 ? 1 : 0;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t of_era = year - era * 400;
  int64_t from_march = (month + 9) % 12;
  int64_t of_year = (153 * from_march + 2) / 5;
  return era * 146097 + of_era * 365 + of_era / 4 - of_era / 100 + of_year -
         719468;
}

} // namespace

int64_t zoned_time(const clock_reading &c, int64_t offset) {
  return (days_to_month(c.year, c.month) + c.day - 1) * 86400 + c.hour * 3600 +
         c.minute * 60 + c.second - offset;
}

namespace {

// The time of clock reading c with r's zone: as UTC less the offset when
// it has one, else as local standard time. *linear: whether the other
// seconds of its minute, up to 59, follow it one a second.
int64_t clock_time(const clock_reading &c, const reading &r, date_memo *memo,
                   bool *linear) {
  if (r.zoned) {
    *linear = true;
    return zoned_time(c, r.offset);
  }
  int64_t t = standard_time(c, memo);
  *linear = memo != nullptr && minute_is_linear(c, memo);
  return t;
}

// The time of a match; in *first and *last the seconds of its minute whose
// times the memo may give as its minute's time plus the second (none when
// first > last).
int64_t reading_time(const stamp_format *f, const reading &r, date_memo *memo,
                     int64_t *first, int64_t *last) {
  *first = 1;
  *last = 0;
  if (f->epoch_unit != 0)
    return r.value[f_epoch] / f->epoch_unit;
  // Without a year, the year after the reference's is tried first: a line
  // written just after midnight on 1 January, local time, east of UTC,
  // lies in it while the reference's year in UTC is still the old one.
  clock_reading c = {
      static_cast<int>(f->has_year ? r.value[f_year] : f->reference_year + 1),
      static_cast<int>(r.value[f_month]),
      static_cast<int>(r.value[f_day]),
      static_cast<int>(r.value[f_hour]),
      static_cast<int>(r.value[f_minute]),
      static_cast<int>(r.value[f_second])};
  bool linear;
  int64_t t = clock_time(c, r, memo, &linear);
  int64_t from = 0, to = 59;
  if (!f->has_year) {
    // A reading is of the latest of the year after the reference's, its
    // year and the year before that puts it at most a day after the
    // reference (the year before in any case). The seconds of the minute
    // that the memo gives must come to the same year.
    int64_t latest = f->reference + 86400;
    // Invariant: every year tried before c.year puts the minute's seconds
    // from on past latest.
    for (int before = 0; before < 2 && t > latest; ++before) {
      from = std::max(from, latest - (t - c.second) + 1);
      bool linear_before;
      --c.year;
      t = clock_time(c, r, memo, &linear_before);
      linear = linear && linear_before;
    }
    if (t <= latest)
      to = std::min(to, latest - (t - c.second));
  }
  // No second of the minute may give a time before 1970.
  from = std::max(from, c.second - t);
  if (linear) {
    *first = from;
    *last = to;
  }
  return t;
}

// Sets which positions can begin a match and which bytes before a
// position rule it out, by the directive or byte that begins FORMAT.
void set_candidates(stamp_format *f, char directive) {
  for (int c = 0; c < 256; ++c) {
    char b = static_cast<char>(c);
    switch (directive) {
    case 'b':
    case 'h':
    case 'B':
    case 'a':
    case 'A':
    case 'Z':
      f->begins[c] = f->blocks[c] = is_letter(b);
      break;
    case 'z':
      f->begins[c] = b == 'Z' || b == 'z' || b == '+' || b == '-';
      f->blocks[c] = false;
      break;
    case 'e':
      f->begins[c] = is_digit(b) || is_blank(b);
      f->blocks[c] = is_digit(b);
      break;
    case ' ':
    case '\t':
    case 'n':
    case 't':
      f->begins[c] = true;
      f->blocks[c] = false;
      break;
    default: // the directives that read digits
      f->begins[c] = f->blocks[c] = is_digit(b);
    }
  }
}

// Appends a step; false when the table is full.
bool add(stamp_format *f, op step, unsigned char arg = 0) {
  if (step == op_blanks && f->steps > 0 && f->op[f->steps - 1] == op_blanks)
    return true; // two runs of blanks match what one does
  if (f->steps == format_steps)
    return false;
  f->op[f->steps] = step;
  f->arg[f->steps++] = arg;
  return true;
}

// The steps of each directive; a literal among them is separator.
struct directive {
  char name;
  unsigned char count;
  op steps[5];
  char separator;
};

constexpr directive directives[] = {
    {'Y', 1, {op_year}, 0},
    {'y', 1, {op_short_year}, 0},
    {'m', 1, {op_month}, 0},
    {'d', 1, {op_day}, 0},
    {'e', 2, {op_blanks, op_day}, 0},
    {'H', 1, {op_hour}, 0},
    {'M', 1, {op_minute}, 0},
    {'S', 1, {op_second}, 0},
    {'b', 1, {op_month_abbr}, 0},
    {'h', 1, {op_month_abbr}, 0},
    {'B', 1, {op_month_name}, 0},
    {'a', 1, {op_weekday}, 0},
    {'A', 1, {op_weekday}, 0},
    {'z', 1, {op_offset}, 0},
    {'Z', 1, {op_zone_name}, 0},
    {'s', 1, {op_epoch}, 0},
    {'Q', 1, {op_epoch_millis}, 0},
    {'f', 1, {op_digits}, 0},
    {'n', 1, {op_blanks}, 0},
    {'t', 1, {op_blanks}, 0},
    {'%', 1, {op_literal}, '%'},
    {'T', 5, {op_hour, op_literal, op_minute, op_literal, op_second}, ':'},
    {'F', 5, {op_year, op_literal, op_month, op_literal, op_day}, '-'},
    {'R', 3, {op_hour, op_literal, op_minute}, ':'},
};

const directive *find_directive(char name) {
  for (const directive &d : directives)
    if (d.name == name)
      return &d;
  return nullptr;
}

// Whether text names one of the directives in names.
bool names_any(const char *text, const char *names) {
  for (const char *s = text; *s != '\0'; ++s) {
    if (*s != '%')
      continue;
    if (*++s == '\0')
      return false;
    if (std::strchr(names, *s) != nullptr)
      return true;
  }
  return false;
}

// Whether step sets a field of the time.
bool sets_field(unsigned char step) {
  return step != op_literal && step != op_blanks && step != op_weekday &&
         step != op_zone_name && step != op_digits;
}

// The flags of the steps that read digits, and the seconds that the
// minute memo stops before, once every step is known.
void finish(stamp_format *f) {
  f->memo_step = f->steps;
  bool zone_before = false;
  for (std::size_t i = 0; i < f->steps; ++i) {
    unsigned char step = f->op[i];
    bool dotted = i + 1 < f->steps && f->op[i + 1] == op_literal &&
                  (f->arg[i + 1] == '.' || f->arg[i + 1] == ',');
    if ((step == op_second || step == op_epoch) && !dotted)
      f->arg[i] |= takes_fraction;
    if (step == op_epoch || step == op_epoch_millis)
      f->arg[i] |= whole_run;
    // The memo compares the text before the seconds: no step there may
    // look past its own bytes into them, as %z looks for minutes.
    if (step == op_second && f->epoch_unit == 0 && !zone_before)
      f->memo_step = i;
    else if (sets_field(step))
      f->memo_step = f->steps;
    zone_before = zone_before || step == op_offset;
  }
}

} // namespace

const char *read_offset(const char *p, int64_t *offset) {
  if (*p == 'Z' || *p == 'z') {
    *offset = 0;
    return p + 1;
  }
  if ((*p != '+' && *p != '-') || !is_digit(p[1]) || !is_digit(p[2]))
    return nullptr;
  int hours = two_digits(p + 1), minutes = 0;
  const char *q = p + 3;
  const char *m = *q == ':' ? q + 1 : q;
  if (is_digit(m[0]) && is_digit(m[1])) {
    minutes = two_digits(m);
    q = m + 2;
  }
  if (hours > 23 || minutes > 59)
    return nullptr;
  *offset = (*p == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return q;
}

bool compile_format(const char *text, stamp_format *f, char (&why)[why_size]) {
  *f = stamp_format{};
  why[0] = '\0';
  bool full = false;
  for (const char *s = text; *s != '\0' && !full; ++s) {
    if (*s != '%') {
      full = !add(f, is_blank(*s) ? op_blanks : op_literal,
                  static_cast<unsigned char>(*s));
      continue;
    }
    const directive *d = find_directive(*++s);
    if (*s == '\0') {
      std::snprintf(why, why_size, "ends with a lone %%");
      return false;
    }
    if (d == nullptr) {
      unsigned char c = static_cast<unsigned char>(*s);
      std::snprintf(why, why_size,
                    c >= 0x20 && c < 0x7f ? "unknown directive %%%c"
                                          : "unknown directive %%\\x%02x",
                    c);
      return false;
    }
    for (unsigned char i = 0; i < d->count && !full; ++i)
      full = !add(f, d->steps[i],
                  static_cast<unsigned char>(
                      d->steps[i] == op_literal ? d->separator : 0));
  }
  bool seconds = names_any(text, "s"), millis = names_any(text, "Q");
  if (full)
    std::snprintf(why, why_size, "is longer than %zu bytes and directives",
                  format_steps);
  else if (seconds && millis)
    std::snprintf(why, why_size, "has both %%s and %%Q");
  else if (!seconds && !millis && !names_any(text, "mbhBF"))
    std::snprintf(why, why_size, "has no month (%%m, %%b, %%h, %%B or %%F)");
  else if (!seconds && !millis && !names_any(text, "deF"))
    std::snprintf(why, why_size, "has no day (%%d, %%e or %%F)");
  if (why[0] != '\0')
    return false;
  f->has_year = names_any(text, "YyF");
  f->has_zone = names_any(text, "z");
  f->epoch_unit = seconds ? 1 : millis ? 1000 : 0;
  f->epoch_least = 1;
  f->epoch_most = 18;
  // A literal byte first, %% among them, anchors the format; anything
  // else is looked for at the positions its first directive can begin at.
  f->anchored = f->op[0] == op_literal;
  if (!f->anchored)
    set_candidates(f, text[0] == '%' ? text[1] : text[0]);
  finish(f);
  return true;
}

void set_reference(stamp_format *f, int64_t reference) {
  std::time_t t = static_cast<std::time_t>(reference);
  std::tm tm{};
  gmtime_r(&t, &tm);
  f->reference = reference;
  f->reference_year = tm.tm_year + 1900;
}

int64_t format_time(const stamp_format *f, const char *p, date_memo *memo,
                    format_runs *runs) {
  bool memo_kept = memo != nullptr && f->memo_step < f->steps;
  // The same text up to the seconds reads as the same minute: only the
  // seconds and what follows them are matched again. Seconds that end f
  // memo_time reads as match does, without its loop.
  int64_t t = memo_kept ? memo_time(memo, p) : -1;
  if (t != -1)
    return t;
  reading r;
  if (memo_kept && memo->seconds == seconds_read::by_format &&
      same_minute(memo, p) &&
      match(f, f->memo_step, p + memo->minute_length, &r, runs) != nullptr &&
      r.value[f_second] >= memo->first_second &&
      r.value[f_second] <= memo->last_second)
    return memo->minute_time + r.value[f_second];
  r = reading{};
  if (match(f, 0, p, &r, runs) == nullptr)
    return -1;
  int64_t first, last;
  t = reading_time(f, r, memo, &first, &last);
  if (t < 0)
    return -1;
  if (memo_kept)
    remember_minute(
        memo, p, first <= last ? static_cast<std::size_t>(r.seconds - p) : 0,
        f->memo_step + 1 == f->steps ? seconds_read::digits
                                     : seconds_read::by_format,
        t - r.value[f_second], static_cast<int>(first), static_cast<int>(last));
  return t;
}

bool format_whole(const stamp_format *f, const char *text, int64_t *t) {
  reading r{};
  const char *rest = match(f, 0, skip_blanks(text), &r, nullptr);
  if (rest == nullptr || *skip_blanks(rest) != '\0')
    return false;
  int64_t first, last;
  *t = reading_time(f, r, nullptr, &first, &last);
  return true;
}

bool format_prefix(const stamp_format *f, const char *text, int64_t *t) {
  // The fields not reached are at their least: no hour, minute or second,
  // the first day and month; no year, the year rule's.
  reading r{};
  r.value[f_month] = r.value[f_day] = 1;
  r.value[f_year] = -1;
  const char *rest = match(f, 0, skip_blanks(text), &r, nullptr, true);
  if (rest == nullptr || *skip_blanks(rest) != '\0' ||
      rest == skip_blanks(text))
    return false;
  stamp_format g = *f;
  g.has_year = r.value[f_year] != -1;
  int64_t first, last;
  *t = reading_time(&g, r, nullptr, &first, &last);
  return true;
}
