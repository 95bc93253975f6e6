// Start-offset search: bisection over byte offsets, so that a large sorted
// log is not read from its beginning. Lines here end at LF; a probe reads at
// most one window at a time.
#include "timing.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads that a probe makes at most, a window each, to find its line.
constexpr std::size_t probe_reads = 16;

// Reads up to one window at offset into buf, leaving the reading position
// alone. Returns the number of bytes read, or -1 with *error set.
long read_window(input *in, uint64_t offset, char *buf, int *error) {
  long n = read_fully_at(in, offset, buf, window_size);
  if (n < 0)
    *error = errno != 0 ? errno : EIO;
  return n;
}

// What a probe makes of the lines it read from line on, in [line, end):
// the line it reports and that line's time; or the line that the read cut
// short, whose bytes the probe needs from a read of its own.
struct probed {
  char *line;   // nullptr: no line to report
  int64_t time; // the reported line's time, or -1
  bool cut;
};

// The first line from line on that has a digit, parsed from its first byte
// but timed only when every byte that the scan would time its record by has
// been read. A line without a digit holds no record: the scan passes over
// it, and so does the probe, which would otherwise take it for a line
// without a time, later than every bound.
probed first_line(char *line, char *end, const timer &, bool) {
  for (;;) {
    char *lf = find_byte(line, end, '\n');
    if (find_digit(line, lf) != lf)
      break;
    if (lf == end)
      return {line, -1, true};
    line = lf + 1;
  }
  char *stop = find_record_end(line, end);
  char *digit = find_digit(line, stop);
  if (stop == end && end - digit < static_cast<long>(window_size))
    return {line, -1, true};
  *timed_end(digit, stop) = '\0'; // at most end, which is zero already
  return {line, parse_date(line), false};
}

// The first line from line on that has a time; lines without one belong to
// a line before them, and are passed over. A line that runs past the read
// is timed by its first window when the read holds that much of it; the
// last line of the file is a line, LF or not.
probed first_timed_line(char *line, char *end, const timer &how, bool at_end) {
  for (;;) {
    char *lf = find_byte(line, end, '\n');
    if (lf == end && line == end)
      return {nullptr, -1, false};
    if (lf == end && !at_end && end - line < static_cast<long>(window_size))
      return {line, -1, true};
    int64_t t = piece_time(how, line, lf, nullptr);
    if (t != -1)
      return {line, t, false};
    if (lf == end)
      return {nullptr, -1, false};
    line = lf + 1;
  }
}

// What a probe reads: its bytes, and how many of them the file gave.
struct probe_count {
  unsigned reads;
  uint64_t bytes;
};

// Time of the first line after offset that how times (the very first line
// for records, the first with a time for lines), or -1. *line, when given,
// gets the offset of the line it reports. A read that fails sets *error to
// its errno value.
int64_t read_date_forwards(input *stream, uint64_t offset, const timer &how,
                           uint64_t *line, int *error, probe_count *count) {
  probed (*find)(char *, char *, const timer &, bool) =
      how.how == cutting::lines ? first_timed_line : first_line;
  char buf[window_size + 1] = {};
  long n = read_window(stream, offset, buf, error);
  ++count->reads;
  if (n <= 0)
    return -1;
  count->bytes += static_cast<uint64_t>(n);
  bool at_end = n < static_cast<long>(window_size);
  char *first = find_byte(buf, buf + n, '\n') + 1;
  if (first > buf + n)
    return -1;
  probed p = find(first, buf + n, how, at_end);
  // The file ends inside the line, which is then no line (the scan never
  // writes it), or the line goes on past the read and the probe reads on
  // from it. Giving up counts as a line later than every bound, which sends
  // the search left of where it stands: so a probe reads on through the
  // lines that have no time after a line (a long trace, a run of blank
  // lines) for up to probe_reads reads. A line whose text reaches past a
  // whole read has no time here.
  for (std::size_t reads = 1; p.cut; ++reads) {
    if (n < static_cast<long>(window_size) || reads == probe_reads ||
        (reads > 1 && p.line == buf))
      return -1;
    offset += static_cast<uint64_t>(p.line - buf);
    n = read_window(stream, offset, buf, error);
    ++count->reads;
    if (n <= 0)
      return -1;
    count->bytes += static_cast<uint64_t>(n);
    p = find(buf, buf + n, how, n < static_cast<long>(window_size));
  }
  if (line != nullptr && p.line != nullptr)
    *line = offset + static_cast<uint64_t>(p.line - buf);
  return p.time;
}

// Bisection over [lo, hi): an offset after which the line a probe reports
// is at or before target, or lo. Stops at the first failed read (*error).
uint64_t binary_seek(input *stream, uint64_t lo, uint64_t hi, uint64_t target,
                     const timer &how, int *error, probe_count *count) {
  // Invariant: lo is the first offset or a probe whose line is at or before
  // target; every probe at or after hi gave a line later than target or none.
  for (;;) {
    uint64_t mid = lo + (hi - lo) / 2;
    if (mid == lo)
      return lo;
    int64_t t = read_date_forwards(stream, mid, how, nullptr, error, count);
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

// Time of the line [line, lf) as how times its piece, -1 when it has none
// or one before 1970: a record from its first digit, up to a CR too.
int64_t line_piece_time(const timer &how, char *line, char *lf) {
  if (how.how == cutting::lines)
    return piece_time(how, line, lf, nullptr);
  char *digit = find_digit(line, lf);
  if (digit == lf)
    return -1;
  return record_time(digit, find_record_end(digit, lf), nullptr);
}

// The time of the first, or with last the last, line of buf[0, n) that has
// one, or -1. Its first line counts only when whole_first (the read began at
// the log's first byte), its last only when it ends with an LF or at_end.
int64_t edge_time_in(char *buf, long n, bool whole_first, bool at_end,
                     bool last, const timer &how) {
  char *end = buf + n;
  char *p = whole_first ? buf : find_byte(buf, end, '\n') + 1;
  int64_t found = -1;
  // Invariant: p is the first byte of a line not yet timed.
  while (p < end) {
    char *lf = find_byte(p, end, '\n');
    // Only a line is one without an LF at the end of the input: a record
    // needs its terminator.
    if (lf == end && !(at_end && how.how == cutting::lines))
      break;
    int64_t t = line_piece_time(how, p, lf);
    if (t >= 0) {
      found = t;
      if (!last)
        break;
    }
    p = lf + 1;
  }
  return found;
}

} // namespace

search_result find_start(input *in, uint64_t target, const timer &how) {
  search_result r = {0, 0, 0, 0};
  probe_count count = {0, 0};
  // An input that cannot be entered anywhere (a pipe, a terminal) is
  // scanned from its first byte.
  if (in->read_at == nullptr)
    return r;
  // The log begins where the input stands: the first byte of a file just
  // opened, or what a caller left unread of standard input.
  int64_t size = input_size(in);
  if (size < 0) {
    r.error = errno;
    return r;
  }
  uint64_t first = in->offset, start = first;
  // Cut into lines, a start of 0 selects the lines before the first with a
  // time, which the search would pass over with the lines of time 0.
  bool search = static_cast<uint64_t>(size) > first &&
                (how.how == cutting::records || target != 0);
  if (search) {
    // The probes read a window here and there: read-ahead would only pull
    // in what they never look at.
    if (in->fd >= 0)
      posix_fadvise(in->fd, 0, 0, POSIX_FADV_RANDOM);
    start = binary_seek(in, first, static_cast<uint64_t>(size), target, how,
                        &r.error, &count);
    // The start is the line that the last probe at start reported. Were it
    // gone (the file changed under us), the log's first byte is the only
    // start known to be a line's.
    if (start != first && r.error == 0) {
      uint64_t line = first;
      read_date_forwards(in, start, how, &line, &r.error, &count);
      start = line;
    }
  }
  in->offset = start;
  r.start = start;
  r.probes = count.reads;
  r.bytes_read = count.bytes;
  return r;
}

bool edge_times(input *stream, uint64_t origin, const timer &how,
                int64_t *first, int64_t *last) {
  int64_t end = stream->read_at != nullptr ? input_size(stream) : -1;
  if (end < 0)
    return false;
  const uint64_t begin = origin;
  const uint64_t size = static_cast<uint64_t>(end);
  // Windows read from each end at most (512 KiB): lines without a time (a
  // long trace, a banner) may stand between the timed lines and the ends.
  constexpr uint64_t reads = 64;
  char buf[window_size + 1];
  int error = 0;
  *first = *last = -1;
  for (uint64_t i = 0; i < reads && *first < 0; ++i) {
    uint64_t at = begin + i * window_size;
    if (at >= size)
      break;
    // Each read after the first looks back a byte, for the line that
    // begins where the one before it ended.
    uint64_t from = i == 0 ? at : at - 1;
    long n = read_window(stream, from, buf, &error);
    if (n <= 0)
      return false;
    buf[n] = '\0';
    *first = edge_time_in(buf, n, i == 0, from + n >= size, false, how);
  }
  for (uint64_t i = 1; i <= reads && *last < 0; ++i) {
    uint64_t at =
        size > begin + i * window_size ? size - i * window_size : begin;
    long n = read_window(stream, at, buf, &error);
    if (n <= 0)
      return false;
    buf[n] = '\0';
    *last = edge_time_in(buf, n, at == begin, at + n >= size, true, how);
    if (at == begin)
      break;
  }
  return *first >= 0 && *last >= 0;
}

int64_t first_time_in(char *text, std::size_t size, bool at_end,
                      const timer &how) {
  return edge_time_in(text, static_cast<long>(size), true, at_end, false, how);
}
