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

// What parse_date remembers between the calls of one caller, so that lines
// of the same minute or hour cost little. Zero-initialise it before use.
struct date_memo {
  // The text of a parse up to its seconds field, read as a minute in which
  // each second adds one to minute_time; none when the length is 0.
  char minute[32];
  std::size_t minute_length;
  int64_t minute_time;
  // One local hour whose conversion is known to be linear: the fields as
  // read and the time of the hour's first second.
  bool has_hour;
  int year, month, day, hour;
  int64_t hour_time;
};

// Seconds since the epoch of the timestamp that begins text, a
// zero-terminated string, read as local standard time; -1 when text does
// not begin with a timestamp or the time cannot be converted. memo, when
// given, only saves work: the result is the same without it.
int64_t parse_date(const char *text, date_memo *memo = nullptr);

// How a log is cut into the pieces that are timed, selected and written.
enum class cutting {
  // A record runs from a digit to the next LF or CR and is timed there;
  // the search times a line from its first byte.
  records,
  // Lines end at LF and are written whole. A line is timed by the first
  // timestamp that begins a run of digits among its first stamp_reach
  // bytes; a line without one goes with the timed line before it.
  lines,
};

constexpr std::size_t stamp_reach = 128;

// Time of the line at line under cutting::lines, -1 when it has none. end
// is its LF, or where what has been read of it ends, a window or more past
// line. The parse sees no byte of the line past its first window.
int64_t line_time(char *line, char *end, date_memo *memo = nullptr);

// Time of the first line after offset that the cutting times (the very
// first line for records, the first with a time for lines), or -1. *line,
// when given, gets the offset of the line it reports. A read that fails
// sets *error to its errno value.
int64_t read_date_forwards(FILE *stream, uint64_t offset, cutting how,
                           uint64_t *line, int *error);

// Bisection over [lo, hi): an offset after which the line a probe reports
// is at or before target, or lo. Stops at the first failed read (*error).
uint64_t binary_seek(FILE *stream, uint64_t lo, uint64_t hi, uint64_t target,
                     cutting how, int *error);

// Positions stream at the start of a line at or before the first line later
// than target, and returns that offset. Leaves an unseekable stream alone.
// *error is 0, or the errno value of a read or seek that failed.
uint64_t find_start(FILE *stream, uint64_t target, int *error,
                    cutting how = cutting::records);

// Writes to out every record of in later than start, stopping at the first
// record later than end (when end is not 0). Closes in. Returns 0, or -1
// after a read or write error. Whatever ends the scan early is said on
// standard error after the records taken before it are written.
int scan_records(FILE *in, const char *name, uint64_t start, uint64_t end,
                 FILE *out, cutting how = cutting::records);

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

// The run as the command line gives it: the texts as typed, the bounds as
// converted (with automatic base; end 0 is no end bound).
struct run_args {
  const char *file;
  const char *start_text;
  const char *end_text; // nullptr when END is not given
  uint64_t start, end;
  cutting how; // -m or --multiline: lines
};

// Fills *args from main's arguments. False when there are too few.
bool read_command_line(int argc, char **argv, run_args *args);

// Writes the usage text to standard output.
void write_usage();

// Writes on standard error, once each, the notes on bounds that are not
// numbers, an END before START and a compressed file, before the run reads
// anything. Leaves in's position alone.
void note_mistakes(FILE *in, const run_args *args);

#endif
