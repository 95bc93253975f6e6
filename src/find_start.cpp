// Start-offset search: bisection over byte offsets, so that a large sorted
// log is not read from its beginning. Lines here end at LF; a probe reads at
// most one window at a time.
#include "stampcut.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Reads up to one window at offset into buf, with one pread where the
// stream has a descriptor, so the stream's position and state are left
// alone. Returns the number of bytes read, or -1 with *error set.
long read_at(FILE *stream, uint64_t offset, char *buf, int *error) {
  int fd = fileno(stream);
  long n;
  if (fd >= 0) {
    do
      n = pread(fd, buf, window_size, static_cast<off_t>(offset));
    while (n < 0 && errno == EINTR);
  } else {
    // A stream that a program made up has no descriptor: read it as one.
    n = fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0
            ? -1
            : static_cast<long>(std::fread(buf, 1, window_size, stream));
    if (n == 0 && std::ferror(stream))
      n = -1;
  }
  if (n < 0)
    *error = errno != 0 ? errno : EIO;
  return n;
}

// Whether [line, end) holds all the text that times the line at line, as
// the scan would time its record; if so, cuts the text there.
bool cut_timed_text(char *line, char *end) {
  char *stop = find_record_end(line, end);
  char *digit = find_digit(line, stop);
  if (stop == end && end - digit < static_cast<long>(window_size))
    return false;
  *timed_end(digit, stop) = '\0'; // at most end, which is zero already
  return true;
}

// Offset of the line after the first LF at or after offset; 0, the one
// offset known to begin a line, when there is no such LF any more (the
// file changed under us).
uint64_t line_after(FILE *stream, uint64_t offset, int *error) {
  char buf[window_size + 1] = {};
  long n = read_at(stream, offset, buf, error);
  if (n <= 0)
    return 0;
  char *lf = find_byte(buf, buf + n, '\n');
  if (lf == buf + n)
    return 0;
  return offset + static_cast<uint64_t>(lf - buf) + 1;
}

} // namespace

int64_t read_date_forwards(FILE *stream, uint64_t offset, int *error) {
  char buf[window_size + 1] = {};
  long n = read_at(stream, offset, buf, error);
  if (n <= 0)
    return -1;
  char *line = find_byte(buf, buf + n, '\n') + 1;
  if (line > buf + n)
    return -1;
  // The line is parsed from its first byte, but only when every byte the
  // scan would time it by has been read: a line cut short is never timed.
  if (!cut_timed_text(line, buf + n)) {
    // The file ends inside the line, which is then no line (the scan never
    // writes it), or the line goes on past the read and gets one of its
    // own. Should its text reach past that one too, it has no time here.
    if (n < static_cast<long>(window_size))
      return -1;
    n = read_at(stream, offset + static_cast<uint64_t>(line - buf), buf, error);
    if (n <= 0 || !cut_timed_text(buf, buf + n))
      return -1;
    line = buf;
  }
  return parse_date(line);
}

uint64_t binary_seek(FILE *stream, uint64_t lo, uint64_t hi, uint64_t target,
                     int *error) {
  // Invariant: lo is the first offset or a probe whose line is at or before
  // target; every probe at or after hi gave a line later than target or none.
  for (;;) {
    uint64_t mid = lo + (hi - lo) / 2;
    if (mid == lo)
      return lo;
    int64_t t = read_date_forwards(stream, mid, error);
    if (*error != 0)
      return lo;
    if (t < 0 || later(t, target))
      hi = mid;
    else if (static_cast<uint64_t>(t) == target)
      return mid;
    else
      lo = mid;
  }
}

uint64_t find_start(FILE *stream, uint64_t target, int *error) {
  *error = 0;
  // A stream that cannot seek (a pipe, a terminal) is scanned from where it
  // stands; nothing has been read from it.
  if (fseeko(stream, 0, SEEK_END) != 0)
    return 0;
  off_t size = ftello(stream);
  uint64_t start = 0;
  if (size > 0) {
    // The probes read a window here and there: read-ahead would only pull
    // in what they never look at.
    posix_fadvise(fileno(stream), 0, 0, POSIX_FADV_RANDOM);
    start = binary_seek(stream, 0, static_cast<uint64_t>(size), target, error);
    // The line that the last probe at start reported begins after the first
    // LF from start on.
    if (start != 0 && *error == 0)
      start = line_after(stream, start, error);
  }
  if (*error == 0 && fseeko(stream, static_cast<off_t>(start), SEEK_SET) != 0)
    *error = errno;
  // Nothing the search met is left for the scan to mistake for its own.
  std::clearerr(stream);
  return start;
}
