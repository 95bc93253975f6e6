// Entry point and record scan: reads the log forward a window at a time and
// writes the records that fall inside the interval.
#include "stampcut.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Selected text leaves in writes of exactly this many bytes, but the last:
// a pipe holds 64 KiB, and a larger write would be split in two, each half
// waiting on the reader.
constexpr std::size_t write_size = std::size_t{1} << 16;
// The scan's buffer holds selected text not yet written (less than
// write_size), an incomplete record (less than a window) and one more read.
constexpr std::size_t area_size = write_size + 2 * window_size;

// Where a scan stands: the open input, what has been read of it and the
// selected records that wait in the same buffer to be written.
struct scan_state {
  FILE *in;
  const char *name;
  FILE *out;
  char area[area_size + 1]; // the last byte is never written
  std::size_t fill;         // valid bytes at the front of area
  std::size_t pos;          // first byte not yet taken
  // [out_begin, out_end) holds the selected records taken so far, each with
  // an LF, not yet written; out_end <= pos.
  std::size_t out_begin, out_end;
  uint64_t base; // area[i] is the file's byte base + i, for every i >= pos
  date_memo memo;
};

enum class step { more, done, failed };

step report(const char *name, const char *reason) {
  std::fprintf(stderr, "stampcut: %s: %s\n", name, reason);
  return step::failed;
}

step report_errno(const char *name, int error) {
  return report(name, std::strerror(error));
}

char *find_digit(char *p, char *end) {
  while (p < end && !is_digit(*p))
    ++p;
  return p;
}

// Time of the record [p, cut). The parse sees the record's own bytes only.
int64_t record_time(char *p, char *cut, date_memo *memo) {
  char saved = *cut;
  *cut = '\0';
  int64_t t = parse_date(p, memo);
  *cut = saved;
  return t;
}

// A bounded run ends at a record without a time as if it were later than
// the end, though records of the interval may follow: say where, once. The
// record is length bytes at p, from the file's byte offset on.
step stop_at(const char *name, uint64_t offset, const char *p,
             std::size_t length) {
  char text[4 * 60 + 1];
  std::size_t n = 0;
  for (std::size_t i = 0; i < length && i < 60; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\')
      text[n++] = static_cast<char>(c);
    else
      n += static_cast<std::size_t>(std::snprintf(
          text + n, sizeof text - n, c == '\\' ? "\\\\" : "\\x%02x", c));
  }
  text[n] = '\0';
  std::fprintf(stderr,
               "stampcut: %s: stopped at a line without a timestamp, byte "
               "%llu: %s\n",
               name, static_cast<unsigned long long>(offset), text);
  return step::done;
}

step write_out(const scan_state *s, const char *data, std::size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, s->out) != size)
    return report_errno("standard output", errno);
  return step::more;
}

step flush_selected(scan_state *s) {
  step r = write_out(s, s->area + s->out_begin, s->out_end - s->out_begin);
  s->out_begin = s->out_end = s->pos;
  return r;
}

// Adds the record [b, e) of the area, its LF included, to the selected text.
// Bytes passed over between records (a CR's LF, text before a digit) are
// closed up, so the text goes out in one piece.
void keep(scan_state *s, std::size_t b, std::size_t e) {
  if (s->out_begin == s->out_end)
    s->out_begin = s->out_end = b;
  if (b != s->out_end)
    std::memmove(s->area + s->out_end, s->area + b, e - b);
  s->out_end += e - b;
}

// Takes every complete record in the area. On return [pos, fill) holds at
// most one incomplete record, starting at a digit.
step take_records(scan_state *s, uint64_t start, uint64_t end) {
  char *limit = s->area + s->fill;
  // The first CR at or after the record being taken, or limit: most logs
  // have none, and one search then serves the whole read.
  char *cr = find_byte(s->area + s->pos, limit, '\r');
  for (;;) {
    char *p = find_digit(s->area + s->pos, limit);
    if (cr < p)
      cr = find_byte(p, limit, '\r');
    char *e = find_byte(p, cr, '\n');
    if (e == limit) {
      s->pos = static_cast<std::size_t>(p - s->area);
      return step::more;
    }
    // No record is timed by more than its first window, as a probe times
    // a line (and the long record path, one that fills the window).
    int64_t t = record_time(
        p, e - p > static_cast<long>(window_size) ? p + window_size : e,
        &s->memo);
    if (end != 0 && later(t, end))
      return t != -1 ? step::done
                     : stop_at(s->name, s->base + (p - s->area), p,
                               static_cast<std::size_t>(e - p));
    *e = '\n'; // the byte that follows the record in the output
    s->pos = static_cast<std::size_t>(e + 1 - s->area);
    if (later(t, start))
      keep(s, static_cast<std::size_t>(p - s->area), s->pos);
  }
}

// Reads up to count bytes to at. Returns the number read; 0 at the end of
// the file or after an error, which has been reported (*r).
std::size_t read_some(scan_state *s, char *at, std::size_t count, step *r) {
  std::size_t n = std::fread(at, 1, count, s->in);
  *r = n == 0 && std::ferror(s->in) ? report_errno(s->name, errno) : step::more;
  return n;
}

// Makes room for one more read: writes one piece of the selected text once
// there is enough of it, and moves what is still needed to the front.
step make_room(scan_state *s) {
  if (s->out_end - s->out_begin >= write_size) {
    if (write_out(s, s->area + s->out_begin, write_size) == step::failed)
      return step::failed;
    s->out_begin += write_size;
  }
  std::size_t kept = s->out_end - s->out_begin;
  std::memmove(s->area, s->area + s->out_begin, kept);
  std::memmove(s->area + kept, s->area + s->pos, s->fill - s->pos);
  s->base += s->pos - kept;
  s->fill -= s->pos - kept;
  s->out_begin = 0;
  s->out_end = s->pos = kept;
  return step::more;
}

bool is_regular(FILE *stream) {
  struct stat st;
  int fd = fileno(stream);
  return fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Reads on past the record at pos, whose terminator is not in the area yet,
// until that terminator. held, when given, gets the bytes that leave the
// area on the way. Returns the terminator's index in the area, which then
// holds the last read, with pos just past the terminator, and adds the
// record's length to *length; -1 when the file ends first or a read fails
// (*r).
long skip_to_terminator(scan_state *s, std::string *held, uint64_t *length,
                        step *r) {
  for (;;) {
    if (held != nullptr)
      held->append(s->area + s->pos, s->fill - s->pos);
    *length += s->fill - s->pos;
    s->base += s->fill;
    s->fill = s->pos = s->out_begin = s->out_end = 0;
    std::size_t n = read_some(s, s->area, window_size, r);
    if (n == 0)
      return -1;
    s->fill = n;
    char *e = find_record_end(s->area, s->area + n);
    if (e != s->area + n) {
      *length += static_cast<uint64_t>(e - s->area);
      s->pos = s->out_begin = s->out_end =
          static_cast<std::size_t>(e + 1 - s->area);
      return e - s->area;
    }
  }
}

step file_changed(const scan_state *s) {
  return report(s->name, "file changed while being read");
}

// Copies the record of length bytes at first, and the terminator that
// follows it as an LF, from the file to the output, a read at a time. The
// file must still hold them: a record is written whole or the run fails.
// Leaves the stream just past the terminator.
step copy_back(scan_state *s, uint64_t first, uint64_t length) {
  if (fseeko(s->in, static_cast<off_t>(first), SEEK_SET) != 0)
    return report_errno(s->name, errno);
  uint64_t left = length + 1;
  while (left > 0) {
    std::size_t got = 0;
    while (got < write_size && left > 0) {
      std::size_t want = left < window_size ? left : window_size;
      step r;
      std::size_t n = read_some(s, s->area + got, want, &r);
      if (n == 0)
        return r == step::failed ? r : file_changed(s);
      got += n;
      left -= n;
    }
    // No terminator within the record, and one right after it.
    char *stop = s->area + got - (left == 0 ? 1 : 0);
    if (find_record_end(s->area, stop) != stop)
      return file_changed(s);
    if (left == 0) {
      if (*stop != '\n' && *stop != '\r')
        return file_changed(s);
      *stop = '\n';
    }
    if (write_out(s, s->area, got) == step::failed)
      return step::failed;
  }
  s->fill = s->pos = s->out_begin = s->out_end = 0;
  s->base = first + length + 1;
  return step::more;
}

// Writes the record at pos, held in memory while it is read to its end.
step hold_record(scan_state *s) {
  try {
    std::string held;
    uint64_t length = 0;
    step r;
    long e = skip_to_terminator(s, &held, &length, &r);
    if (e < 0)
      return r == step::failed ? r : step::done;
    held.append(s->area, static_cast<std::size_t>(e));
    held.push_back('\n');
    return write_out(s, held.data(), held.size());
  } catch (const std::bad_alloc &) {
    return report_errno(s->name, ENOMEM);
  }
}

// A record that fills a whole window, its terminator further on: it is
// timed by its first window, as a probe times a line longer than its read,
// and written whole, but only once its terminator is known to follow. A
// regular file is read again for the copy, so memory stays fixed; other
// input holds the record.
step take_long_record(scan_state *s, uint64_t start, uint64_t end) {
  char *p = s->area + s->pos;
  int64_t t = record_time(p, p + window_size, &s->memo);
  // A record later than the end stops the run at once. One without a time
  // stops it only once it is known to end, as a short one does: a last
  // line still being written is no record, and earns no note.
  bool stops = end != 0 && later(t, end);
  if (stops && t != -1)
    return step::done;
  // The selected text before the record goes out first; the area is then
  // free for the record's own reads.
  if (flush_selected(s) == step::failed)
    return step::failed;
  bool selected = !stops && later(t, start);
  if (selected && !is_regular(s->in))
    return hold_record(s);
  char head[60];
  std::memcpy(head, p, sizeof head);
  uint64_t first = s->base + s->pos;
  uint64_t length = 0;
  step r;
  long e = skip_to_terminator(s, nullptr, &length, &r);
  if (e < 0)
    return r == step::failed ? r : step::done;
  if (stops)
    return stop_at(s->name, first, head, sizeof head);
  return selected ? copy_back(s, first, length) : step::more;
}

// Runs the scan to its end: the end bound, the end of the file, or an error.
step scan(scan_state *s, uint64_t start, uint64_t end) {
  for (;;) {
    step r = take_records(s, start, end);
    if (r != step::more)
      return r;
    if (s->fill - s->pos >= window_size) {
      r = take_long_record(s, start, end);
      if (r != step::more)
        return r;
      continue;
    }
    if (s->fill + window_size > area_size && make_room(s) == step::failed)
      return step::failed;
    std::size_t n = read_some(s, s->area + s->fill, window_size, &r);
    if (n == 0)
      return r == step::failed ? r : step::done;
    s->fill += n;
  }
}

} // namespace

int scan_records(FILE *in, const char *name, uint64_t start, uint64_t end,
                 FILE *out) {
  // The state holds the buffer: too large to clear whole for nothing.
  scan_state s;
  s.in = in;
  s.name = name;
  s.out = out;
  s.area[area_size] = '\0';
  s.fill = s.pos = s.out_begin = s.out_end = 0;
  off_t at = ftello(in);
  s.base = at > 0 ? static_cast<uint64_t>(at) : 0;
  s.memo = date_memo{};
  // From here on the file is read straight through.
  posix_fadvise(fileno(in), at > 0 ? at : 0, 0, POSIX_FADV_SEQUENTIAL);

  step r = scan(&s, start, end);
  // The records taken before a read error are written all the same; after
  // a write error nothing more is.
  step w = std::ferror(out) ? step::failed : flush_selected(&s);
  std::fclose(in);
  if (std::fflush(out) != 0 || std::ferror(out)) {
    if (w != step::failed)
      report_errno("standard output", errno != 0 ? errno : EIO);
    return -1;
  }
  return r == step::failed ? -1 : 0;
}

#ifndef STAMPCUT_NO_MAIN
namespace {

// Whether standard output is the input file itself, which the run would
// then grow while reading it.
bool writes_to_itself(FILE *in) {
  struct stat a, b;
  // With standard output closed, the input took its descriptor: then the
  // first write fails instead.
  return fileno(in) != STDOUT_FILENO && fstat(fileno(in), &a) == 0 &&
         fstat(STDOUT_FILENO, &b) == 0 && S_ISREG(a.st_mode) &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fputs("Syntax: stampcut [file] [start unix ts] [end unix ts]. "
               "minimum 2 arguments. \n",
               stdout);
    return -1;
  }
  uint64_t start = std::strtoull(argv[2], nullptr, 0);
  uint64_t end = argc > 3 ? std::strtoull(argv[3], nullptr, 0) : 0;
  FILE *in = std::fopen(argv[1], "r");
  if (in == nullptr)
    return -1;
  if (writes_to_itself(in)) {
    report(argv[1], "input file is also the output");
    std::fclose(in);
    return -1;
  }
  // Every read goes straight to the file, so nothing is read ahead of what
  // is asked for; the scan gathers its output into large writes itself.
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  int error;
  find_start(in, start, &error);
  if (error != 0) {
    report_errno(argv[1], error);
    std::fclose(in);
    return -1;
  }
  return scan_records(in, argv[1], start, end, stdout);
}
#endif
