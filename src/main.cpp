// Entry point and record scan: reads the log forward through one fixed
// window and writes the records that fall inside the interval.
#include "stampcut.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

// Where a scan stands: the open input, the window and the selected bytes
// that are still waiting in it to be written.
struct scan_state {
  FILE *in;
  const char *name;
  FILE *out;
  char window[window_size + 1]; // the last byte is never written
  std::size_t fill;             // valid bytes at the front of the window
  std::size_t pos;              // first byte not yet taken
  std::size_t out_begin;        // [out_begin, out_end) is selected, unwritten
  std::size_t out_end;
  date_memo memo;
};

enum class step { more, done, failed };

step report(const char *name, int error) {
  std::fprintf(stderr, "stampcut: %s: %s\n", name, std::strerror(error));
  return step::failed;
}

char *find_digit(char *p, char *end) {
  while (p < end && !is_digit(*p))
    ++p;
  return p;
}

// Time of the record that begins at p and ends at the terminator *e. The
// parse sees the record's own bytes only; the terminator comes back as an
// LF, the byte that follows the record in the output.
int64_t record_time(char *p, char *e, date_memo *memo) {
  *e = '\0';
  int64_t t = parse_date(p, memo);
  *e = '\n';
  return t;
}

step write_bytes(FILE *out, const char *data, std::size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, out) != size)
    return report("standard output", errno);
  return step::more;
}

step flush_selected(scan_state *s) {
  step r =
      write_bytes(s->out, s->window + s->out_begin, s->out_end - s->out_begin);
  s->out_begin = s->out_end = 0;
  return r;
}

// Takes every complete record in the window. Adjacent selected records
// gather into one span, written when the window moves on. On return the
// window from pos holds at most one incomplete record, starting at a digit.
step take_records(scan_state *s, uint64_t start, uint64_t end) {
  char *limit = s->window + s->fill;
  // The first CR at or after the record being taken, or limit: most logs
  // have none, and one search then serves the whole window.
  char *cr = find_byte(s->window + s->pos, limit, '\r');
  for (;;) {
    char *p = find_digit(s->window + s->pos, limit);
    if (cr < p)
      cr = find_byte(p, limit, '\r');
    char *e = find_byte(p, cr, '\n');
    if (e == limit) {
      s->pos = p - s->window;
      return step::more;
    }
    int64_t t = record_time(p, e, &s->memo);
    if (end != 0 && later(t, end))
      return step::done;
    s->pos = e + 1 - s->window;
    if (later(t, start)) {
      std::size_t begin = p - s->window;
      if (begin != s->out_end) {
        if (flush_selected(s) == step::failed)
          return step::failed;
        s->out_begin = begin;
      }
      s->out_end = s->pos;
    }
  }
}

// Reads up to count bytes into the window at fill. Returns the number read;
// 0 at the end of the file or after an error, which has been reported.
std::size_t read_window(scan_state *s, std::size_t count, step *r) {
  std::size_t n = std::fread(s->window + s->fill, 1, count, s->in);
  *r = n == 0 && std::ferror(s->in) ? report(s->name, errno) : step::more;
  return n;
}

bool is_regular(FILE *stream) {
  struct stat st;
  int fd = fileno(stream);
  return fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Reads on past a record that has filled the window until its terminator.
// Keeps in held whatever passes through the window before it, when held is
// given. Returns the terminator's index in the window, with the window
// holding the last read; or -1 when the file ends first (or a read fails:
// see *r).
long skip_to_terminator(scan_state *s, std::string *held, uint64_t *length,
                        step *r) {
  for (;;) {
    if (held != nullptr)
      held->append(s->window, s->fill);
    *length += s->fill;
    s->fill = 0;
    std::size_t n = read_window(s, window_size, r);
    if (n == 0)
      return -1;
    s->fill = n;
    char *e = find_record_end(s->window, s->window + n);
    if (e != s->window + n) {
      *length += e - s->window;
      return e - s->window;
    }
  }
}

// Copies length bytes from offset of the input to the output, a window at a
// time. A file that has shrunk since gives what is left.
step copy_back(scan_state *s, uint64_t offset, uint64_t length) {
  if (fseeko(s->in, static_cast<off_t>(offset), SEEK_SET) != 0)
    return report(s->name, errno);
  while (length > 0) {
    std::size_t want = length < window_size ? length : window_size;
    step r;
    s->fill = 0;
    std::size_t n = read_window(s, want, &r);
    if (n == 0)
      return r == step::failed ? r : step::done;
    if (write_bytes(s->out, s->window, n) == step::failed)
      return step::failed;
    length -= n;
  }
  return step::more;
}

// A record that fills the whole window, its terminator further on: its time
// comes from its beginning like any other's, and it is written whole, but
// only once its terminator is known to follow. A regular file is read again
// for the copy, so memory stays fixed; other input holds the record.
step take_long_record(scan_state *s, uint64_t start, uint64_t end) {
  // The zero after the window ends the text the parse sees.
  int64_t t = parse_date(s->window, &s->memo);
  if (end != 0 && later(t, end))
    return step::done;
  bool selected = later(t, start);
  bool reread = selected && is_regular(s->in);
  off_t first = reread ? ftello(s->in) - static_cast<off_t>(window_size) : 0;
  if (first < 0)
    return report(s->name, errno);

  std::string held;
  std::string *hold = selected && !reread ? &held : nullptr;
  uint64_t length = 0;
  step r;
  long e = skip_to_terminator(s, hold, &length, &r);
  if (e < 0)
    return r == step::failed ? r : step::done;
  s->pos = e + 1;
  if (!selected)
    return step::more;
  if (hold != nullptr) {
    held.append(s->window, e);
    held.push_back('\n');
    return write_bytes(s->out, held.data(), held.size());
  }
  r = copy_back(s, first, length);
  if (r != step::more)
    return r;
  if (write_bytes(s->out, "\n", 1) == step::failed)
    return step::failed;
  s->fill = s->pos = 0;
  if (fseeko(s->in, first + static_cast<off_t>(length) + 1, SEEK_SET) != 0)
    return report(s->name, errno);
  return step::more;
}

// Runs the scan to its end: the end bound, the end of the file, or an error.
step scan(scan_state *s, uint64_t start, uint64_t end) {
  for (;;) {
    step r = take_records(s, start, end);
    if (r != step::more)
      return r;
    if (flush_selected(s) == step::failed)
      return step::failed;
    // Only the incomplete record at pos is kept, moved to the front.
    s->fill -= s->pos;
    std::memmove(s->window, s->window + s->pos, s->fill);
    s->pos = 0;
    if (s->fill == window_size) {
      r = take_long_record(s, start, end);
      if (r != step::more)
        return r;
      continue;
    }
    std::size_t n = read_window(s, window_size - s->fill, &r);
    if (n == 0)
      return r == step::failed ? r : step::done;
    s->fill += n;
  }
}

} // namespace

int scan_records(FILE *in, const char *name, uint64_t start, uint64_t end,
                 FILE *out) {
  scan_state s{};
  s.in = in;
  s.name = name;
  s.out = out;
  step r = scan(&s, start, end);
  if (r != step::failed)
    r = flush_selected(&s);
  std::fclose(in);
  if (std::fflush(out) != 0 || std::ferror(out)) {
    if (r != step::failed)
      report("standard output", errno != 0 ? errno : EIO);
    return -1;
  }
  return r == step::failed ? -1 : 0;
}

#ifndef STAMPCUT_NO_MAIN
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
  // Every read goes straight to the file, so a probe costs one read of at
  // most a window and nothing is read ahead of what is asked for.
  std::setvbuf(in, nullptr, _IONBF, 0);
  int error;
  find_start(in, start, &error);
  if (error != 0) {
    report(argv[1], error);
    std::fclose(in);
    return -1;
  }
  return scan_records(in, argv[1], start, end, stdout);
}
#endif
