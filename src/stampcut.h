// Functions shared by the units of stampcut.
#ifndef STAMPCUT_H
#define STAMPCUT_H

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

// The first LF or CR in [p, end), or end: where a record ends. Both the scan
// and the search's probe cut a record there before parsing it, so its time
// comes from its own bytes only.
inline const char *find_record_end(const char *p, const char *end) {
  const void *lf = std::memchr(p, '\n', end - p);
  const char *stop = lf != nullptr ? static_cast<const char *>(lf) : end;
  const void *cr = std::memchr(p, '\r', stop - p);
  return cr != nullptr ? static_cast<const char *>(cr) : stop;
}

// What parse_date remembers between the calls of one caller, so that lines
// of the same second or hour cost little. Zero-initialise it before use.
struct date_memo {
  // The text that the last parse consumed, from its first byte through the
  // seconds, and its time; none when the length is 0.
  char text[32];
  std::size_t text_length;
  int64_t text_time;
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

// Time of the first line that begins after offset, or -1.
int64_t read_date_forwards(FILE *stream, uint64_t offset);

// Bisection over [lo, hi): an offset after which the first line is at or
// before target, or lo.
uint64_t binary_seek(FILE *stream, uint64_t lo, uint64_t hi, uint64_t target);

// Positions stream at the start of a line at or before the first line later
// than target, and returns that offset. Leaves an unseekable stream alone.
uint64_t find_start(FILE *stream, uint64_t target);

// Writes to out every record of in later than start, stopping at the first
// record later than end (when end is not 0). Closes in. Returns 0, or -1
// after reporting a read or write error on standard error.
int scan_records(FILE *in, const char *name, uint64_t start, uint64_t end,
                 FILE *out);

#endif
