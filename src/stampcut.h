// Functions shared by the units of stampcut.
#ifndef STAMPCUT_H
#define STAMPCUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "input.h"

// Bytes of file data in every read buffer; each buffer has one more byte
// that stays zero so that any text in it is zero-terminated.
constexpr std::size_t window_size = 8192;

// Room for the first 60 bytes of a text as a message shows them.
constexpr std::size_t escaped_size = 4 * 60 + 1;

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

// What a caller's conversions remember between its calls (timing.h).
struct date_memo;

struct clock_reading;

// The reading whose local standard time of TZ is t, as standard_time
// gives it; false when t has none.
bool standard_reading(int64_t t, clock_reading *c);

// A clock reading as written: month 1 to 12, the rest as read.
struct clock_reading {
  int year, month, day, hour, minute, second;
};

// The reading as local standard time of TZ, exactly as mktime gives it with
// the daylight-saving flag 0; -1 when it cannot be converted. memo, when
// given, only saves work.
int64_t standard_time(const clock_reading &c, date_memo *memo);

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
  // The digits an epoch may have: a run of fewer or more is none.
  int epoch_least, epoch_most;
  // An offset is read over, not applied: the reading is local standard
  // time of TZ, as the default stamp's (a recognised FORMAT).
  bool zone_ignored;
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

// Whether f matches text up to the end of one of its fields, blanks
// around it allowed; *t then gets its time with the fields not reached at
// their least (no hour, minute or second, day 1, month 1, the year rule's
// year), as format_whole gives it.
bool format_prefix(const stamp_format *f, const char *text, int64_t *t);

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

// How a run times the pieces of its log: how it cuts them, and the FORMAT
// that times a line (given with -f, recognised, or none: the default
// stamp). One for the run, shared by the search's probes and the scan.
struct timer {
  cutting how;
  const stamp_format *format;
};

// What the search did, and where it leaves the scan to begin.
struct search_result {
  uint64_t start; // the offset the stream is positioned at
  int error;      // 0, or the errno value of a read or seek that failed
  unsigned probes;
  uint64_t bytes_read;
};

// Moves in's reading position to the start of a line at or before the
// first line later than target. Leaves an input that cannot be entered
// anywhere alone.
search_result find_start(input *in, uint64_t target, const timer &how);

// The times of the first and last pieces with a time of the log that
// begins at origin in the input stream, which can be entered anywhere, as
// how times them, each found within 512 KiB of its end of the file; false
// when either is not found there. The reading position is left alone.
bool edge_times(input *stream, uint64_t origin, const timer &how,
                int64_t *first, int64_t *last);

// The time of the first piece with a time among the lines of a log's first
// size bytes at text, as how times them; at_end: they are the whole log.
// -1 when none has one.
int64_t first_time_in(char *text, std::size_t size, bool at_end,
                      const timer &how);

// How a scan ended.
enum class scan_end {
  input_end, // the end of the input
  past_end,  // the first piece later than END
  stopped,   // a record without a time, with END
  failed,    // a read or write failed, or the file changed
};

// What a scan did: how it ended, and what the notes after the output say.
struct scan_result {
  int status; // 0, or -1 after a read or write error
  scan_end end;
  uint64_t end_offset; // the piece that ended it, past_end or stopped
  uint64_t bytes_read;
  uint64_t written; // pieces written
  uint64_t cut;     // pieces cut, timed or not
  uint64_t timed;   // pieces cut that had a time
  // The first and last times the scan met, or -1 when it met none.
  int64_t first_time, last_time;
  // What the notes show: the stopping record, or the last record that
  // has no terminator and would have been written (unterminated).
  char text[escaped_size];
  bool unterminated;
  // A long record from a stream that the input's end cut: written as it
  // came, with an LF added.
  bool written_in_part;
  char failure[128]; // why the input failed, or empty
  // The first piece found earlier than one met before it by more than the
  // slack, that piece's time and its offset, and the largest such step
  // back (0: none).
  int64_t late_time, late_after;
  uint64_t late_after_at;
  int64_t largest_step;
};

// Writes to out every piece of in later than start and not later than end
// (when end is not 0), stopping at the first later than end plus slack, as
// how cuts and times them; the head_size bytes at head, when given, are
// what was read of in already.
// Pieces taken before the scan ends are written before it
// returns; what to say about the input is left to the caller.
scan_result scan_records(input *in, uint64_t start, uint64_t end, FILE *out,
                         const timer &how, const char *head = nullptr,
                         std::size_t head_size = 0, uint64_t slack = 0);

// Writes all size bytes at data to out, or fails with errno set. Neither a
// signal nor a descriptor left non-blocking by the parent cuts it short.
bool write_all(FILE *out, const char *data, std::size_t size);

// Writes a message to standard error in one piece, as write_all writes.
__attribute__((format(printf, 1, 2))) void say(const char *format, ...);

// Says "stampcut: NAME: REASON" on standard error.
void report(const char *name, const char *reason);

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
  const char *rule; // what read it, as -v says
};

// What a bound's text is read against: the log's FORMAT (its reference
// set), or nullptr; the run's start, for now, the times before it and the
// day words; and the time of the log's last timed line, which a time of
// day as START is placed at or before (-1: none known, now instead).
struct bound_context {
  const stamp_format *format;
  int64_t now;
  int64_t last_line;
};

// Reads a bound's text. A time is read as the log's stamps are, and value
// is its second less one, so that START takes its own second in and END
// leaves it out. start: START as read, when this is END; a time of day as
// END is the first such second after START's.
bound read_bound(const char *text, const bound_context &context,
                 const bound *start);

// The time a stamp written at instant t is read as: its wall-clock reading
// under TZ, summer time included, as local standard time like every
// stamp's reading. Under a FORMAT whose stamps give instants (%z, %s, %Q),
// t itself. -1 when t has no reading. now as a bound, and the clock that
// ends a follow, are read by it.
int64_t stamp_time_at(int64_t t, const stamp_format *format);

// Whether text is a time of day (03:30, 3:30:05.5), for which START needs
// the log's last timed line.
bool names_time_of_day(const char *text);

// Where the FORMAT that times a run's lines comes from.
enum class format_source {
  none,       // the default stamp
  given,      // -f
  recognised, // chosen from the catalogue by the log's lines
};

// The run as the command line gives it: the texts as typed, the bounds as
// read (once read_bounds has read them).
struct run_args {
  const char *file; // "-": standard input
  const char *start_text;
  const char *end_text; // nullptr when END is not given
  bound start, end;
  cutting how;             // -m, --multiline or -f: lines
  const char *format_text; // the FORMAT as typed or recognised, or nullptr
  format_source source;
  const char *late_option;  // the first option-like argument after END
  const char *late_operand; // the first argument after END, or nullptr
  bool verbose;             // -v: say what the run understood and did
  bool rotated;             // -r: FILE with the files rotation made of it
  bool follow;              // -F: FILE read on as it grows
  // -s, --slack: how far out of time order the log's lines may be, in
  // seconds; 0 for a log in order.
  uint64_t slack;
  stamp_format format; // compiled, when source is not none
};

// The FORMAT that times the run's lines, or nullptr for the default stamp.
inline const stamp_format *run_format(const run_args *args) {
  return args->source != format_source::none ? &args->format : nullptr;
}

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
bool read_bounds(run_args *args, const bound_context &context);

// The reading of time t as the log's stamps are read, ISO 8601: local
// standard time of TZ, or UTC with a Z under a FORMAT whose stamps give
// instants (%z, %s, %Q). Empty when t has none.
struct reading_text {
  char text[40];
};
reading_text reading_of(int64_t t, const stamp_format *format);

#endif
