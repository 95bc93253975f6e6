// Functions shared by the units of stampcut.
#ifndef STAMPCUT_H
#define STAMPCUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Bytes of file data in every read buffer; each buffer has one more byte
// that stays zero so that any text in it is zero-terminated.
constexpr std::size_t window_size = 8192;

// The decimal digits, and no other byte: a record begins at one.
inline bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The ASCII letters, in either case.
inline bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The blanks of a timestamp: spaces and tabs.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// The text from the first byte at p that is not a blank.
inline const char *skip_blanks(const char *p) {
  while (is_blank(*p))
    ++p;
  return p;
}

// White space as the C library's number conversions skip it in the C
// locale, which stampcut never leaves.
inline bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The first digit in [p, end), or end.
inline char *find_digit(char *p, char *end) {
  while (p < end && !is_digit(*p))
    ++p;
  return p;
}

// The first c in [p, end), or end.
inline char *find_byte(char *p, char *end, char c) {
  void *found = std::memchr(p, c, static_cast<std::size_t>(end - p));
  return found != nullptr ? static_cast<char *>(found) : end;
}

// The first LF or CR in [p, end), or end: where a record ends. Both the scan
// and the search's probe cut a record there before parsing it, so its time
// comes from its own bytes only.
inline char *find_record_end(char *p, char *end) {
  return find_byte(p, find_byte(p, end, '\n'), '\r');
}

// Places in the list of line ends that find_line_ends fills.
constexpr std::size_t line_ends_room = 256;

// Lists in ends, which has line_ends_room places, the offsets from text of
// the LF bytes of text[from, to), and of its CR bytes too when with_cr is
// set, in order, and returns how many. Goes 64 bytes at a time from from,
// and stops before a step once fewer than 64 places are left: *listed gets
// to, or the offset before which every such byte is listed. No byte outside
// [from, to) is read; from <= to < 2^32.
std::size_t find_line_ends(const char *text, std::size_t from, std::size_t to,
                           bool with_cr, uint32_t *ends, std::size_t *listed);

// The same by plain byte compares, for the tests to hold the other to.
std::size_t find_line_ends_plain(const char *text, std::size_t from,
                                 std::size_t to, bool with_cr, uint32_t *ends,
                                 std::size_t *listed);

// Where the text that times a record ends. A record is timed by its own
// bytes from its first digit on, cut at its terminator and by a window when
// it runs on for longer: stop is its terminator, or the end of what has been
// read of it. The scan and the search's probe both time by this rule, so
// that they can never order a line by different bytes.
inline char *timed_end(char *digit, char *stop) {
  return stop - digit > static_cast<std::ptrdiff_t>(window_size)
             ? digit + window_size
             : stop;
}

// Whether time t lies after bound. The comparison is unsigned, so a record
// without a time (-1), or before the epoch, is later than every bound.
inline bool later(int64_t t, uint64_t bound) {
  return static_cast<uint64_t>(t) > bound;
}

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

// A clock reading as written: month 1 to 12, the rest as read.
struct clock_reading {
  int year, month, day, hour, minute, second;
};

// The reading as local standard time of TZ, exactly as mktime gives it with
// the daylight-saving flag 0; -1 when it cannot be converted. memo, when
// given, only saves work.
int64_t standard_time(const clock_reading &c, date_memo *memo);

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

// How a log is cut into the pieces that are timed, selected and written.
enum class cutting {
  // A record runs from a digit to the next LF or CR and is timed there;
  // the search times a line from its first byte.
  records,
  // Lines end at LF and are written whole. A line is timed by line_time;
  // a line without a time goes with the timed line before it.
  lines,
};

constexpr std::size_t stamp_reach = 128;

// A timestamp format given with -f, compiled once into a fixed table of
// steps that a line's bytes are matched against.
constexpr std::size_t format_steps = 256;
struct stamp_format {
  unsigned char op[format_steps];
  unsigned char arg[format_steps];
  std::size_t steps;
  // The step of the seconds that the minute memo stops before, when
  // nothing after it sets a field; steps when there is none.
  std::size_t memo_step;
  // A format that begins with a literal byte is looked for anywhere in a
  // line's first window; any other at its first stamp_reach positions
  // only, each a byte that can begin a match and does not follow one that
  // blocks it (a digit before a number, a letter before a name).
  bool anchored; // it begins with the literal byte arg[0]
  bool begins[256];
  bool blocks[256];
  bool has_year;  // without a year, the reference's year is taken
  bool has_zone;  // %z: a reading is placed by its offset, not by TZ
  int epoch_unit; // 1 for %s, 1000 for %Q; 0: the time is a clock reading
  // The time that a year-less reading is placed against, and its year.
  int64_t reference;
  int reference_year;
};

// Room for why a FORMAT is refused.
constexpr std::size_t why_size = 96;

// Compiles text into *f. False, with why said in *why, when text is no
// FORMAT stampcut reads.
bool compile_format(const char *text, stamp_format *f, char (&why)[why_size]);

// Sets the time that a reading without a year is placed against.
void set_reference(stamp_format *f, int64_t reference);

// The runs that the steps of a FORMAT that read any number of bytes
// (blanks, %Z, %f) read in the matches of one line that then failed, so
// that the matches at the line's later candidates read no run twice and
// the work on a line stays linear in its length. Step i's run is
// [from[i], to[i]) when bit i of known is set; clear known before a line's
// first candidate.
struct format_runs {
  uint64_t known[format_steps / 64];
  const char *from[format_steps];
  const char *to[format_steps];
};

// Time of a match of f at p, in a text that a zero byte ends; -1 when f
// does not match there or gives a time before 1970. runs, when given, are
// those of the candidates of p's line tried before it, and only save work.
int64_t format_time(const stamp_format *f, const char *p, date_memo *memo,
                    format_runs *runs = nullptr);

// Whether f matches text whole, blanks around it allowed; *t then gets its
// time, one before 1970 included (a bound refuses it, where a line passes
// over it), or -1 when the reading cannot be converted.
bool format_whole(const stamp_format *f, const char *text, int64_t *t);

// The zone at p: Z or z (offset 0), or a sign, two digits of hours (0 to
// 23), then two of minutes (0 to 59) with or without a colon, or none.
// *offset gets it in seconds east of UTC. Returns the text after it, or
// nullptr when there is none.
const char *read_offset(const char *p, int64_t *offset);

// The clock reading c at offset seconds east of UTC, as seconds since the
// epoch, in the Gregorian calendar.
int64_t zoned_time(const clock_reading &c, int64_t offset);

// Time of the line at line under cutting::lines, -1 when it has none: by
// format when one is given, else by the first timestamp that begins a run
// of digits among its first stamp_reach bytes. end is its LF, or where what
// has been read of it ends, a window or more past line. No byte of the line
// past its first window is looked at.
int64_t line_time(char *line, char *end, const stamp_format *format,
                  date_memo *memo = nullptr);

// Time of the first line after offset that the cutting times (the very
// first line for records, the first with a time for lines, timed by
// line_time with format), or -1. *line, when given, gets the offset of the
// line it reports. A read that fails sets *error to its errno value.
int64_t read_date_forwards(FILE *stream, uint64_t offset, cutting how,
                           const stamp_format *format, uint64_t *line,
                           int *error);

// Bisection over [lo, hi): an offset after which the line a probe reports
// is at or before target, or lo. Stops at the first failed read (*error).
uint64_t binary_seek(FILE *stream, uint64_t lo, uint64_t hi, uint64_t target,
                     cutting how, const stamp_format *format, int *error);

// Positions stream at the start of a line at or before the first line later
// than target, and returns that offset. Leaves an unseekable stream alone.
// *error is 0, or the errno value of a read or seek that failed.
uint64_t find_start(FILE *stream, uint64_t target, int *error,
                    cutting how = cutting::records,
                    const stamp_format *format = nullptr);

// Writes to out every record of in later than start and not later than
// end (when end is not 0), stopping at the first record later than end
// plus slack; lines are timed with format. Closes in. Returns 0, or -1
// after a read or write error. Whatever ends the scan early is said on
// standard error after the records taken before it are written.
int scan_records(FILE *in, const char *name, uint64_t start, uint64_t end,
                 FILE *out, cutting how = cutting::records,
                 const stamp_format *format = nullptr, uint64_t slack = 0);

// Writes all size bytes at data to out, or fails with errno set. Neither a
// signal nor a descriptor left non-blocking by the parent cuts it short.
bool write_all(FILE *out, const char *data, std::size_t size);

// Writes a message to standard error in one piece, as write_all writes.
__attribute__((format(printf, 1, 2))) void say(const char *format, ...);

// Says "stampcut: NAME: REASON" on standard error.
void report(const char *name, const char *reason);

// Room for the first 60 bytes of a text as a message shows them.
constexpr std::size_t escaped_size = 4 * 60 + 1;

// The first 60 of the length bytes at p, as a message shows them: each
// non-printing byte as \xHH, a backslash as \\.
void escape(const char *p, std::size_t length, char (&out)[escaped_size]);

// How a bound's text was read: by the first of these that fits it.
enum class bound_kind {
  number,      // wholly a number: seconds since the epoch, strtoull, base 0
  past_9999,   // the same, but past the year 9999: most likely milliseconds
  time,        // a text in FORMAT, a date, now or a time before it
  before_1970, // the same, before 1970-01-02: refused
  text,        // anything else: the number it begins with, or 0
};

// A bound as the run compares records' times with it: later than START,
// not later than END (0: no END).
struct bound {
  bound_kind kind;
  uint64_t value;
};

// Reads a bound's text. A time is read as the log's stamps are (format,
// when given, has its reference set), and value is its second less one,
// so that START takes its own second in and END leaves it out. now is the
// run's start, for now and the times before it.
bound read_bound(const char *text, const stamp_format *format, int64_t now);

// The run as the command line gives it: the texts as typed, the bounds as
// read (once read_bounds has read them).
struct run_args {
  const char *file; // "-": standard input
  const char *start_text;
  const char *end_text; // nullptr when END is not given
  bound start, end;
  cutting how;             // -m, --multiline or -f: lines
  const char *format_text; // -f: the FORMAT as typed, or nullptr
  const char *late_option; // the first option-like argument after END
  // -s, --slack: how far out of time order the log's lines may be, in
  // seconds; 0 for a log in order.
  uint64_t slack;
  stamp_format format; // compiled, when format_text is given
};

// What the command line asks for.
enum class command {
  run,      // the run that *args describes
  usage,    // too few operands: the usage text, and status 255
  finished, // the help or the version was written: status 0
  failed,   // a mistake was said on standard error: status 255
};

// Fills *args from main's arguments; says on standard error what is wrong
// with them, and writes the help or the version when asked.
command read_command_line(int argc, char **argv, run_args *args);

// Writes the usage text to standard output.
void write_usage();

// Reads START and END into *args, with its FORMAT and that FORMAT's
// reference set; now is the run's start. False, said on standard error,
// when a bound is a time before 1970-01-02.
bool read_bounds(run_args *args, int64_t now);

// Writes on standard error, once each, the notes on bounds that are
// neither numbers nor times, numbers past the year 9999, an END before
// START and a compressed file, before the run reads anything. Leaves in's
// position alone.
void note_mistakes(FILE *in, const run_args *args);

#endif
