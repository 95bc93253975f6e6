// Record scan: reads the log forward from where the search left it and
// writes the records, or whole lines, that fall inside the interval.
#include "timing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Selected text leaves for a pipe or a socket in writes of at most this
// many bytes, each but the last of the same size (piece_size). Any other
// output takes all that is pending in one write before each read: a write
// costs a system call, whose price in a virtual machine can come near the
// copy's.
constexpr std::size_t write_size = std::size_t{1} << 16;
// The capacity asked of a pipe that stampcut writes to: room for sixteen
// pieces, so that the reader drains some while the next are written. 1 MiB
// is Linux's default limit for a user's pipe.
constexpr int pipe_size = 1 << 20;
// The first refill reads this much, straight into the scan's
// buffer (a read(2) a window cost the kernel as much again as the copy it
// made), and each next one twice the last, up to largest_read: a narrow
// query ends within its first reads, and a wide one, from a cold cache,
// gets the disk's large reads. The window still bounds how a record is cut
// and timed.
constexpr std::size_t first_read = std::size_t{1} << 16;
constexpr std::size_t largest_read = std::size_t{1} << 20;
// The scan's buffer holds selected text not yet written (less than
// write_size, or none, when a read is made), an incomplete record (less
// than a window) and one more read.
constexpr std::size_t area_size = write_size + window_size + largest_read;

enum class step { more, done, failed };

struct scan_state;

// One way of cutting the log: where a piece ends, how the complete pieces
// in the area are taken, and how one that fills a whole window is.
struct cutter {
  char *(*find_end)(char *p, char *end);
  bool ends_at_cr;  // a CR ends a piece as an LF does
  bool ends_at_eof; // the end of the input ends a piece too
  step (*take)(scan_state *s, uint64_t start, uint64_t end);
  step (*take_long)(scan_state *s, uint64_t start, uint64_t end);
  // The piece left at the end of the input, which no end byte ends.
  step (*take_last)(scan_state *s, uint64_t start, uint64_t end);
};

// Where a scan stands: the open input, what has been read of it and the
// selected records that wait in the same buffer to be written.
struct scan_state {
  input *in; // read on from base + fill
  // The last read's bytes do not follow on from those before it (the file
  // was cut or replaced, or the input ended mid-line): what was held of an
  // incomplete piece is none. Taken from the input's own flag.
  bool broke;
  FILE *out;
  // The bytes past area_size are never written: a zero after the last
  // read, and room for the memo to compare a minute at any byte read.
  char area[area_size + minute_reach];
  std::size_t fill;      // valid bytes at the front of area
  std::size_t read_want; // bytes the next refill asks for
  std::size_t pos;       // first byte not yet taken
  // [out_begin, out_end) holds the selected records taken so far, each with
  // an LF, not yet written; out_end <= pos.
  std::size_t out_begin, out_end;
  uint64_t base; // area[i] is the file's byte base + i, for every i >= pos
  // Where the pieces end, found many at a time: ends[ends_next...] are the
  // offsets of every end byte in [at, listed), at being the first byte the
  // scan may still look at. Emptied when the area's bytes move.
  uint32_t ends[line_ends_room];
  std::size_t ends_next, ends_count;
  std::size_t listed;
  // The first CR from where one was last looked for, or fill when there
  // is none, and the ends there are found by their LF alone, as in most
  // logs; 0 when none has been looked for since the last read.
  std::size_t cr_at;
  date_memo memo;
  const cutter *cut;
  timer how;
  // The run ends at the first piece later than stop (0: none), which is
  // the end bound widened by the slack: a line written late may follow
  // lines later than the interval.
  uint64_t stop;
  uint64_t slack;
  // The latest time met so far, and the offset of its first piece.
  int64_t latest;
  uint64_t latest_at;
  // Whether the last line with a time was selected, and with it the lines
  // without one that follow it (cutting::lines).
  bool line_selected;
  // What the caller is told: how the scan ended, what it met, and why the
  // input failed, said only once the records taken before it are written.
  scan_result result;
  bool out_failed; // a write failed, was reported, and nothing more goes out
  // Output leaves in pieces of this many bytes, but the last; 0: all that
  // is pending in one write before each read.
  std::size_t piece;
};

// Forgets where the pieces end: the area's bytes have moved.
void forget_ends(scan_state *s) {
  s->ends_next = s->ends_count = s->listed = s->cr_at = 0;
}

// Empties the area, which then holds the file's bytes from offset on.
void restart_at(scan_state *s, uint64_t offset) {
  s->base = offset;
  s->fill = s->pos = s->out_begin = s->out_end = 0;
  forget_ends(s);
}

// Lists the next ends of the area from p on; false when it has none.
__attribute__((noinline)) bool list_ends(scan_state *s, char *p) {
  std::size_t from = static_cast<std::size_t>(p - s->area);
  if (from < s->listed)
    from = s->listed;
  if (from >= s->fill)
    return false;
  if (s->cut->ends_at_cr && s->cr_at <= from)
    s->cr_at = static_cast<std::size_t>(
        find_byte(s->area + from, s->area + s->fill, '\r') - s->area);
  bool with_cr = s->cut->ends_at_cr && s->cr_at < s->fill;
  s->ends_count =
      find_line_ends(s->area, from, s->fill, with_cr, s->ends, &s->listed);
  s->ends_next = 0;
  return true;
}

// The first end of a piece at or after p in the area, or its fill. The
// piece that it ends is taken: the scan looks on from past it.
inline char *next_end(scan_state *s, char *p) {
  for (;;) {
    while (s->ends_next < s->ends_count) {
      char *e = s->area + s->ends[s->ends_next++];
      if (e >= p)
        return e;
    }
    if (!list_ends(s, p))
      return s->area + s->fill;
  }
}

// Keeps why the input failed, to be said when the scan has ended.
step fail_with(scan_state *s, const char *reason) {
  std::snprintf(s->result.failure, sizeof s->result.failure, "%s", reason);
  s->result.end = scan_end::failed;
  return step::failed;
}

step fail(scan_state *s, int error) {
  return fail_with(s, std::strerror(error));
}

step file_changed(scan_state *s) {
  return fail_with(s, "file changed while being read");
}

// Counts a piece the scan cut at p, of time t, among what it met, and
// notes it in the order of those met: a piece that lies further back than
// the slack from one met before it is where lines of the interval may have
// been missed, by the search or by the end.
void met(scan_state *s, int64_t t, const char *p) {
  scan_result &r = s->result;
  ++r.cut;
  r.timed += t != -1 ? 1 : 0;
  if (t < 0)
    return;
  if (r.first_time < 0)
    r.first_time = t;
  r.last_time = t;
  if (t > s->latest) {
    s->latest = t;
    s->latest_at = s->base + static_cast<uint64_t>(p - s->area);
    return;
  }
  int64_t step = s->latest - t;
  if (static_cast<uint64_t>(step) <= s->slack || step <= r.largest_step)
    return;
  if (r.largest_step == 0) {
    r.late_time = t;
    r.late_after = s->latest;
    r.late_after_at = s->latest_at;
  }
  r.largest_step = step;
}

// Whether a piece of time t ends the run.
inline bool ends_run(const scan_state *s, int64_t t) {
  return s->stop != 0 && later(t, s->stop);
}

// Whether a piece of time t lies in the interval: later than start and,
// when end is not 0, not later than end. Without slack every piece later
// than end has ended the run already.
inline bool in_interval(int64_t t, uint64_t start, uint64_t end) {
  return later(t, start) && (end == 0 || !later(t, end));
}

// The run ends at the piece at the file's byte offset, later than END.
step past_end(scan_state *s, uint64_t offset) {
  s->result.end = scan_end::past_end;
  s->result.end_offset = offset;
  return step::done;
}

// A bounded run ends at a record without a time as if it were later than
// the end, though records of the interval may follow: the caller says
// where. The record is length bytes at p, from the file's byte offset on.
step stop_at(scan_state *s, uint64_t offset, const char *p,
             std::size_t length) {
  escape(p, length, s->result.text);
  s->result.end = scan_end::stopped;
  s->result.end_offset = offset;
  return step::done;
}

step write_out(scan_state *s, const char *data, std::size_t size) {
  if (write_all(s->out, data, size))
    return step::more;
  report("standard output", std::strerror(errno));
  s->out_failed = true;
  return step::failed;
}

// Writes the whole pieces of the selected text; less than one is left.
step write_pieces(scan_state *s) {
  for (; s->out_end - s->out_begin >= s->piece; s->out_begin += s->piece)
    if (write_out(s, s->area + s->out_begin, s->piece) == step::failed)
      return step::failed;
  return step::more;
}

// Writes the selected text not yet written.
step write_pending(scan_state *s) {
  step r = s->piece != 0 ? write_pieces(s) : step::more;
  if (r != step::failed)
    r = write_out(s, s->area + s->out_begin, s->out_end - s->out_begin);
  s->out_begin = s->out_end = s->pos;
  return r;
}

// Appends the record [b, e) of the area, its LF included, to the selected
// text not yet written. Bytes passed over between records (a CR's LF, text
// before a digit) are closed up, so the text goes out in one piece. A
// piece for a pipe leaves as soon as it is whole: its reader then works on
// it while the scan goes on through the read, not after it.
step append_record(scan_state *s, std::size_t b, std::size_t e) {
  if (s->out_begin == s->out_end)
    s->out_begin = s->out_end = b;
  if (b != s->out_end)
    std::memmove(s->area + s->out_end, s->area + b, e - b);
  s->out_end += e - b;
  ++s->result.written;
  return s->piece != 0 && s->out_end - s->out_begin >= s->piece
             ? write_pieces(s)
             : step::more;
}

// Takes every complete record in the area. On return [pos, fill) holds at
// most one incomplete record, starting at a digit.
step take_records(scan_state *s, uint64_t start, uint64_t end) {
  char *limit = s->area + s->fill;
  for (;;) {
    char *p = find_record_digit(s->area + s->pos, limit);
    char *e = next_end(s, p);
    if (e == limit) {
      s->pos = static_cast<std::size_t>(p - s->area);
      return step::more;
    }
    int64_t t = record_time(p, e, &s->memo);
    met(s, t, p);
    if (ends_run(s, t))
      return t != -1 ? past_end(s, s->base + (p - s->area))
                     : stop_at(s, s->base + (p - s->area), p,
                               static_cast<std::size_t>(e - p));
    *e = '\n'; // the byte that follows the record in the output
    s->pos = static_cast<std::size_t>(e + 1 - s->area);
    if (in_interval(t, start, end) &&
        append_record(s, static_cast<std::size_t>(p - s->area), s->pos) ==
            step::failed)
      return step::failed;
  }
}

// Notes whether a line of time t is selected, and with it the lines
// without a time after it; or says that it ends the run. A line without a
// time (-1) goes with the line before it and never ends the run.
bool ends_at_line(scan_state *s, int64_t t, const char *p, uint64_t start,
                  uint64_t end) {
  met(s, t, p);
  if (t == -1)
    return false;
  if (ends_run(s, t))
    return true;
  s->line_selected = in_interval(t, start, end);
  return false;
}

// Takes every complete line in the area, as take_records takes records.
// On return [pos, fill) holds at most one incomplete line.
step take_lines(scan_state *s, uint64_t start, uint64_t end) {
  char *limit = s->area + s->fill;
  for (;;) {
    char *p = s->area + s->pos;
    char *e = next_end(s, p);
    if (e == limit)
      return step::more;
    if (ends_at_line(s, piece_time(s->how, p, e, &s->memo), p, start, end))
      return past_end(s, s->base + (p - s->area));
    s->pos = static_cast<std::size_t>(e + 1 - s->area);
    if (s->line_selected &&
        append_record(s, static_cast<std::size_t>(p - s->area), s->pos) ==
            step::failed)
      return step::failed;
  }
}

// Reads up to count bytes to at, *n of them, as the input reads them: more
// when some were read, done at the end of the input, failed after a read
// error. After a break the area's bytes from at on are those of the new
// text, which the caller puts where the dropped piece began.
step read_some(scan_state *s, char *at, std::size_t count, std::size_t *n) {
  ssize_t got = s->in->read(s->in, at, count);
  *n = got > 0 ? static_cast<std::size_t>(got) : 0;
  s->result.bytes_read += *n;
  s->broke = s->in->broken;
  s->in->broken = false;
  if (s->broke)
    s->base = s->in->offset - *n - static_cast<uint64_t>(at - s->area);
  if (got < 0)
    return s->in->failure[0] != '\0' ? fail_with(s, s->in->failure)
                                     : fail(s, errno != 0 ? errno : EIO);
  return got != 0 ? step::more : step::done;
}

// Makes room for one more read: writes the whole pieces of the selected
// text, or all of it, and moves what is still needed to the front.
step make_room(scan_state *s) {
  if ((s->piece != 0 ? write_pieces(s) : write_pending(s)) == step::failed)
    return step::failed;
  std::size_t kept = s->out_end - s->out_begin;
  std::memmove(s->area, s->area + s->out_begin, kept);
  std::memmove(s->area + kept, s->area + s->pos, s->fill - s->pos);
  s->base += s->pos - kept;
  s->fill -= s->pos - kept;
  s->out_begin = 0;
  s->out_end = s->pos = kept;
  forget_ends(s);
  return step::more;
}

// Reads the next piece of the file after what the area holds.
step refill(scan_state *s) {
  // Input that is not a regular file may keep the read waiting for its
  // writer: the records selected so far go out before it.
  if (s->in->may_wait && write_pending(s) == step::failed)
    return step::failed;
  if (s->fill + s->read_want > area_size && make_room(s) == step::failed)
    return step::failed;
  std::size_t n;
  step r = read_some(s, s->area + s->fill, s->read_want, &n);
  if (s->read_want < largest_read)
    s->read_want *= 2;
  if (s->broke) {
    // The incomplete piece held at pos never ends: the new text takes its
    // place.
    std::memmove(s->area + s->pos, s->area + s->fill, n);
    s->base += s->fill - s->pos;
    s->fill = s->pos;
    forget_ends(s);
  }
  s->fill += n;
  s->cr_at = 0;
  return r;
}

// The pieces in which output to stream leaves, or 0 for one write a read
// (a file, /dev/null, a terminal). A pipe's writer and reader take turns
// when each write fills it: the writer waits on the full pipe, then the
// reader on the empty one, each on its own CPU doing nothing while the
// other works. So a pipe is made larger where the system allows it, and is
// written in pieces of at most half of it, so that the two work at once;
// on one CPU, where they take turns anyway, large pieces keep the switches
// between them few. A socket, or a stream whose kind is not known, takes
// pieces of write_size.
std::size_t piece_size(FILE *stream) {
  struct stat st;
  int fd = fileno(stream);
  if (fd < 0 || fstat(fd, &st) != 0 || S_ISSOCK(st.st_mode))
    return write_size;
  if (!S_ISFIFO(st.st_mode))
    return 0;
  int size = -1;
#ifdef F_GETPIPE_SZ
  size = fcntl(fd, F_GETPIPE_SZ);
  // Refused beyond the system's limit, or the user's share of pipe memory:
  // the pipe then keeps the size it has.
  if (size > 0 && size < pipe_size) {
    int larger = fcntl(fd, F_SETPIPE_SZ, pipe_size);
    if (larger > 0)
      size = larger;
  }
#endif
  if (size <= 0)
    return write_size;
  std::size_t part = static_cast<std::size_t>(size) / 2;
  return part < 4096 ? 4096 : part < write_size ? part : write_size;
}

// Reads on past the record at pos, whose terminator is not in the area yet,
// until that terminator. more: the area holds the last read, with pos just
// past the terminator, and the record's length has been added to *length;
// done when the file ends first. After a break (broke) the record never
// ends: the area holds the new text from its front.
step skip_to_terminator(scan_state *s, uint64_t *length) {
  for (;;) {
    *length += s->fill - s->pos;
    restart_at(s, s->base + s->fill);
    step r = read_some(s, s->area, area_size, &s->fill);
    if (r != step::more || s->broke)
      return r;
    char *e = s->cut->find_end(s->area, s->area + s->fill);
    if (e != s->area + s->fill) {
      *length += static_cast<uint64_t>(e - s->area);
      s->pos = s->out_begin = s->out_end =
          static_cast<std::size_t>(e + 1 - s->area);
      return step::more;
    }
  }
}

// Passes over the long record at pos to just past its terminator; *first
// gets its offset and *length its length.
step pass_record(scan_state *s, uint64_t *first, uint64_t *length) {
  *first = s->base + s->pos;
  *length = 0;
  return skip_to_terminator(s, length);
}

// Copies the record of length bytes at first, and the terminator that
// follows it as an LF, from the file to the output, a read at a time. The
// file must still hold them: a record is written whole or the run fails.
// Leaves the reading position just past the terminator.
// The file changed under the copy of a long record. A followed file may be
// cut under it (copytruncate): what was written of the record is ended
// with an LF and said, and the follow goes on, finding the cut at its next
// read. Any other file fails the run: the record was to be written whole.
step changed_under_copy(scan_state *s, bool written, uint64_t next) {
  if (!s->in->may_wait)
    return file_changed(s);
  if (written && write_out(s, "\n", 1) == step::failed)
    return step::failed;
  s->result.written_in_part = s->result.written_in_part || written;
  restart_at(s, next);
  s->in->offset = next;
  return step::more;
}

step copy_back(scan_state *s, uint64_t first, uint64_t length, bool at_eof) {
  // A line that the file's end ends has no terminator to copy: its LF is
  // added.
  uint64_t left = length + (at_eof ? 0 : 1);
  uint64_t at = first; // the next byte to copy
  while (left > 0) {
    std::size_t got = 0;
    while (got < write_size && left > 0) {
      std::size_t want = left < write_size - got ? left : write_size - got;
      ssize_t n = read_fully_at(s->in, at, s->area + got, want);
      if (n < 0)
        return fail(s, errno != 0 ? errno : EIO);
      if (n == 0)
        return changed_under_copy(s, at - got > first, at);
      got += static_cast<std::size_t>(n);
      at += static_cast<uint64_t>(n);
      left -= static_cast<uint64_t>(n);
    }
    // No terminator within the record, and one right after it.
    char *stop = s->area + got - (left == 0 && !at_eof ? 1 : 0);
    if (s->cut->find_end(s->area, stop) != stop)
      return changed_under_copy(s, at - got > first, at);
    if (left == 0 && at_eof) {
      *stop = '\n';
      ++got;
    } else if (left == 0) {
      if (s->cut->find_end(stop, stop + 1) != stop)
        return changed_under_copy(s, at - got > first, at);
      *stop = '\n';
    }
    if (write_out(s, s->area, got) == step::failed)
      return step::failed;
  }
  restart_at(s, first + length + 1);
  s->in->offset = s->base;
  return at_eof ? step::done : step::more;
}

// Writes a selected long record of a regular file: read again for the
// copy, so that memory stays fixed.
step copy_long_record(scan_state *s) {
  uint64_t first, length;
  step r = pass_record(s, &first, &length);
  bool at_eof = r == step::done && s->cut->ends_at_eof;
  if (s->broke)
    return r;
  return r == step::more || at_eof ? copy_back(s, first, length, at_eof) : r;
}

// Writes size bytes at data, in pieces when the output takes them.
step write_text(scan_state *s, const char *data, std::size_t size) {
  for (; s->piece != 0 && size > s->piece; data += s->piece, size -= s->piece)
    if (write_out(s, data, s->piece) == step::failed)
      return step::failed;
  return write_out(s, data, size);
}

// Writes a selected long record of input that cannot be read twice as it
// arrives, a read at a time, so that memory stays fixed however long it
// is: its time and its selection come from its first window alone. Input
// that ends inside it leaves it written in part, which is then ended with
// an LF as every record is, and said.
step write_long_record(scan_state *s) {
  // Invariant: the record's bytes before the area are written, and
  // [pos, fill) holds the next of them.
  for (;;) {
    char *from = s->area + s->pos, *limit = s->area + s->fill;
    char *e = s->cut->find_end(from, limit);
    if (e != limit) {
      *e = '\n';
      s->pos = s->out_begin = s->out_end =
          static_cast<std::size_t>(e + 1 - s->area);
      return write_text(s, from, static_cast<std::size_t>(e + 1 - from));
    }
    if (write_text(s, from, static_cast<std::size_t>(limit - from)) ==
        step::failed)
      return step::failed;
    restart_at(s, s->base + s->fill);
    step r = read_some(s, s->area, area_size, &s->fill);
    if (r == step::more)
      continue;
    if (write_out(s, "\n", 1) == step::failed)
      return step::failed;
    // A line is ended by the input's end; a record is none, but what came
    // of it is written already, and said.
    if (r == step::done && !s->cut->ends_at_eof)
      s->result.written_in_part = true;
    return r;
  }
}

// Passes over the long record at pos, or writes it whole when selected.
step take_whole(scan_state *s, bool selected) {
  if (!selected) {
    uint64_t first, length;
    return pass_record(s, &first, &length);
  }
  ++s->result.written;
  return s->in->regular ? copy_long_record(s) : write_long_record(s);
}

// A long record without a time ends a bounded run as a short one does, but
// only once it is known to end: a last line still being written is no
// record, and earns no note.
step stop_at_long_record(scan_state *s) {
  char head[60];
  std::memcpy(head, s->area + s->pos, sizeof head);
  uint64_t first, length;
  step r = pass_record(s, &first, &length);
  return r == step::more && !s->broke ? stop_at(s, first, head, sizeof head)
                                      : r;
}

// A record that fills a whole window, its terminator further on: timed by
// its first window, and written whole, but only once its terminator is
// known to follow.
step take_long_record(scan_state *s, uint64_t start, uint64_t end) {
  char *p = s->area + s->pos;
  int64_t t = record_time(p, s->area + s->fill, &s->memo);
  met(s, t, p);
  bool stops = ends_run(s, t);
  if (stops && t != -1)
    return past_end(s, s->base + s->pos);
  // The selected text before the record goes out first; the area is then
  // free for the record's own reads.
  if (write_pending(s) == step::failed)
    return step::failed;
  if (stops)
    return stop_at_long_record(s);
  char head[60];
  std::memcpy(head, p, sizeof head);
  step r = take_whole(s, in_interval(t, start, end));
  // The input ended inside the record: it is none, but would have been
  // written.
  if (r == step::done && s->result.end == scan_end::input_end &&
      in_interval(t, start, end) && !s->result.written_in_part && !s->broke) {
    escape(head, sizeof head, s->result.text);
    s->result.unterminated = true;
  }
  return r;
}

// A line that fills a whole window, its LF further on, under
// cutting::lines: timed by its first window, and written whole when it or
// the line it goes with is selected.
step take_long_line(scan_state *s, uint64_t start, uint64_t end) {
  char *p = s->area + s->pos;
  if (ends_at_line(s, piece_time(s->how, p, s->area + s->fill, &s->memo), p,
                   start, end))
    return past_end(s, s->base + s->pos);
  if (write_pending(s) == step::failed)
    return step::failed;
  return take_whole(s, s->line_selected);
}

// The last line of the input, which no LF ends, is a line as any other:
// timed, and written with an LF when selected.
step take_last_line(scan_state *s, uint64_t start, uint64_t end) {
  if (s->pos == s->fill)
    return step::done;
  char *p = s->area + s->pos, *e = s->area + s->fill;
  if (ends_at_line(s, piece_time(s->how, p, e, &s->memo), p, start, end))
    return past_end(s, s->base + s->pos);
  // The byte past the data is the area's own: the memo's room.
  *e = '\n';
  s->pos = s->fill + 1;
  if (s->line_selected &&
      append_record(s, static_cast<std::size_t>(p - s->area), s->pos) ==
          step::failed)
    return step::failed;
  return step::done;
}

// The last record, which no terminator ends, is no record and is not
// written; the caller says so when it would have been.
step take_last_record(scan_state *s, uint64_t start, uint64_t end) {
  if (s->pos == s->fill)
    return step::done;
  char *p = s->area + s->pos;
  int64_t t = record_time(p, s->area + s->fill, &s->memo);
  if (in_interval(t, start, end)) {
    escape(p, s->fill - s->pos, s->result.text);
    s->result.unterminated = true;
  }
  return step::done;
}

char *find_lf(char *p, char *end) {
  return find_byte(p, end, '\n');
}

constexpr cutter record_cutter = {
    find_record_end, true, false, take_records, take_long_record,
    take_last_record};
constexpr cutter line_cutter = {find_lf,    false,          true,
                                take_lines, take_long_line, take_last_line};

// Runs the scan to its end: the end bound, the end of the file, or an error.
step scan(scan_state *s, uint64_t start, uint64_t end) {
  for (;;) {
    step r = s->cut->take(s, start, end);
    if (r == step::more)
      r = s->fill - s->pos >= window_size ? s->cut->take_long(s, start, end)
                                          : refill(s);
    // At the end of the input, what is left of it is its last piece.
    if (r == step::done && s->result.end == scan_end::input_end)
      r = s->cut->take_last(s, start, end);
    if (r != step::more)
      return r;
  }
}

} // namespace

scan_result scan_records(input *in, uint64_t start, uint64_t end, FILE *out,
                         const timer &how, const char *head,
                         std::size_t head_size, uint64_t slack) {
  // Cleared whole, once, so that no byte of the buffer is read before it is
  // written.
  scan_state s{};
  s.in = in;
  s.read_want = first_read;
  s.out = out;
  s.piece = piece_size(out);
  s.cut = how.how == cutting::lines ? &line_cutter : &record_cutter;
  s.how = how;
  s.slack = slack;
  s.stop = end == 0 ? 0 : end > UINT64_MAX - slack ? UINT64_MAX : end + slack;
  s.latest = -1;
  s.result.first_time = s.result.last_time = -1;
  // Lines before the first with a time go with none, as if with a line
  // before every time.
  s.line_selected = start == 0;
  // What was read of a stream before the scan is the first of its bytes.
  restart_at(&s, in->offset - head_size);
  if (head_size != 0)
    std::memcpy(s.area, head, head_size);
  s.fill = head_size;
  // From here on the file is read straight through.
  if (in->regular)
    posix_fadvise(in->fd, static_cast<off_t>(in->offset), 0,
                  POSIX_FADV_SEQUENTIAL);

  step r = scan(&s, start, end);
  // The records taken before the scan ended are written, unless writing
  // failed already; only then is it said why the scan ended.
  if (!s.out_failed)
    write_pending(&s);
  if (std::fflush(out) != 0 && !s.out_failed) {
    report("standard output", std::strerror(errno != 0 ? errno : EIO));
    s.out_failed = true;
  }
  s.result.status = r == step::failed || s.out_failed ? -1 : 0;
  if (s.out_failed)
    s.result.end = scan_end::failed;
  return s.result;
}
