// The sample of a log that recognition reads: its first lines, and for a
// regular file the window at its middle. A regular file is read where the
// sample lies, so that the search and the scan find the input as it was;
// an input that cannot be entered anywhere gives the scan what was read of
// it.
#include "recognise.h"

#include <cerrno>
#include <cstdio>

bool read_sample(input *in, uint64_t origin, log_sample *s) {
  int64_t end = input_size(in);
  if (end < 0)
    return false;
  uint64_t first = origin;
  uint64_t size = static_cast<uint64_t>(end);
  ssize_t n = read_fully_at(in, first, s->head, head_room);
  if (n < 0)
    return false;
  std::memset(s->head + n, 0, minute_reach);
  s->bytes_read = static_cast<uint64_t>(n);
  s->parts[0] = {s->head, static_cast<std::size_t>(n), true,
                 static_cast<std::size_t>(n) < head_room};
  s->count = 1;
  // The middle, where the search's first probe reads, when it lies past
  // the head.
  uint64_t middle = first + (size - first) / 2;
  if (size > first && middle > first + head_room) {
    ssize_t m = read_fully_at(in, middle, s->middle, window_size);
    if (m < 0)
      return false;
    std::memset(s->middle + m, 0, minute_reach);
    s->bytes_read += static_cast<uint64_t>(m);
    s->parts[s->count++] = {s->middle, static_cast<std::size_t>(m), false,
                            static_cast<std::size_t>(m) < window_size};
  }
  return true;
}

bool read_head(input *in, log_sample *s) {
  std::size_t got = 0;
  bool at_end = false;
  // Invariant: head[0, got) is what the input has given, with no LF in it
  // but in its last read.
  while (got < head_room) {
    ssize_t n = in->read(in, s->head + got, head_room - got);
    // A read that fails after some bytes came leaves them to the scan,
    // whose next read fails too.
    if (n < 0 && got > 0)
      break;
    if (n < 0)
      return false;
    if (n == 0) {
      at_end = true;
      break;
    }
    bool whole_line = std::memchr(s->head + got, '\n',
                                  static_cast<std::size_t>(n)) != nullptr;
    got += static_cast<std::size_t>(n);
    if (whole_line)
      break;
  }
  std::memset(s->head + got, 0, minute_reach);
  s->bytes_read = got;
  s->parts[0] = {s->head, got, true, at_end};
  s->count = 1;
  return true;
}
