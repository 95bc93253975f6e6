// The sample of a log that recognition reads: its first lines, and for a
// regular file the window at its middle. A regular file is read with
// pread, so that the search and the scan find the stream as it was; a
// stream that cannot seek gives the scan what was read of it.
#include "recognise.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads up to size bytes at offset; -1 with errno set when the read fails.
ssize_t read_at(int fd, char *buf, std::size_t size, uint64_t offset) {
  std::size_t got = 0;
  // A regular file gives less than was asked only at its end.
  while (got < size) {
    ssize_t n =
        pread(fd, buf + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return -1;
    if (n == 0)
      break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

} // namespace

bool read_sample(FILE *in, uint64_t origin, log_sample *s) {
  int fd = fileno(in);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0)
    return false;
  uint64_t first = origin;
  uint64_t size = static_cast<uint64_t>(st.st_size);
  ssize_t n = read_at(fd, s->head, head_room, first);
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
    ssize_t m = read_at(fd, s->middle, window_size, middle);
    if (m < 0)
      return false;
    std::memset(s->middle + m, 0, minute_reach);
    s->bytes_read += static_cast<uint64_t>(m);
    s->parts[s->count++] = {s->middle, static_cast<std::size_t>(m), false,
                            static_cast<std::size_t>(m) < window_size};
  }
  return true;
}

bool read_head(FILE *in, log_sample *s) {
  int fd = fileno(in);
  std::size_t got = 0;
  bool at_end = false;
  // Invariant: head[0, got) is what the stream has given, with no LF in
  // it but in its last read.
  while (got < head_room) {
    // A stream a program made up, such as a decompressed one, has no
    // descriptor: read it as a stream.
    ssize_t n = fd >= 0 ? read(fd, s->head + got, head_room - got)
                        : static_cast<ssize_t>(std::fread(s->head + got, 1,
                                                          head_room - got, in));
    if (fd < 0 && n == 0 && std::ferror(in))
      n = -1;
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready = {fd, POLLIN, 0};
      poll(&ready, 1, -1);
      continue;
    }
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
