// Start-offset search: bisection over byte offsets, so that a large sorted
// log is not read from its beginning. Lines here end at LF; a probe reads at
// most one window.
#include "stampcut.h"

namespace {

// Index of the first LF among the n bytes of buf, or n.
std::size_t find_lf(const char *buf, std::size_t n) {
  const void *lf = std::memchr(buf, '\n', n);
  return lf != nullptr ? static_cast<const char *>(lf) - buf : n;
}

// Reads up to one window at offset into buf; the number of bytes read, 0 when
// the seek or the read fails.
std::size_t read_at(FILE *stream, uint64_t offset, char *buf) {
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0)
    return 0;
  return std::fread(buf, 1, window_size, stream);
}

} // namespace

int64_t read_date_forwards(FILE *stream, uint64_t offset) {
  char buf[window_size + 1] = {};
  std::size_t n = read_at(stream, offset, buf);
  std::size_t i = find_lf(buf, n);
  if (i == n)
    return -1;
  // The line after the first LF, cut where the scan would end its record.
  char *line = buf + i + 1;
  line[find_record_end(line, buf + n) - line] = '\0';
  return parse_date(line);
}

uint64_t binary_seek(FILE *stream, uint64_t lo, uint64_t hi, uint64_t target) {
  // Invariant: lo is the first offset or a probe whose line is at or before
  // target; every probe at or after hi gave a line later than target or none.
  for (;;) {
    uint64_t mid = lo + (hi - lo) / 2;
    if (mid == lo)
      return lo;
    int64_t t = read_date_forwards(stream, mid);
    if (t < 0 || static_cast<uint64_t>(t) > target)
      hi = mid;
    else if (static_cast<uint64_t>(t) == target)
      return mid;
    else
      lo = mid;
  }
}

uint64_t find_start(FILE *stream, uint64_t target) {
  // A stream that cannot seek (a pipe, a terminal) is scanned from where it
  // stands; nothing has been read from it.
  if (fseeko(stream, 0, SEEK_END) != 0)
    return 0;
  off_t size = ftello(stream);
  uint64_t start = 0;
  if (size > 0) {
    start = binary_seek(stream, 0, static_cast<uint64_t>(size), target);
    // The line that the last probe at start reported begins after the first
    // LF from start on. Were it gone (the file changed under us), the first
    // byte is the only start known to be a line's.
    char buf[window_size + 1] = {};
    std::size_t n = start != 0 ? read_at(stream, start, buf) : 0;
    std::size_t i = find_lf(buf, n);
    start = i < n ? start + i + 1 : 0;
  }
  fseeko(stream, static_cast<off_t>(start), SEEK_SET);
  return start;
}
