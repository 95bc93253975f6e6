// The plain kinds of input: a regular file, read where it is asked for; a
// descriptor that gives its bytes as they arrive (a pipe, a terminal, a
// socket); and a stream that a program made up, read through stdio.
#include "input.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file found smaller than it was, or than the offset read, was cut under
// the run and may have been written anew: what this read brought may
// splice two texts, and is dropped. A file never seen with a size is not
// measured: the kernel's files (/proc) say 0 whatever they hold.
ssize_t file_read(input *in, char *buf, std::size_t count) {
  ssize_t n = read_fully_at(in, in->offset, buf, count);
  struct stat st;
  if (n < 0 || fstat(in->fd, &st) != 0)
    return n;
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size < in->size_seen || (in->size_seen != 0 && n > 0 &&
                               size < in->offset + static_cast<uint64_t>(n))) {
    std::snprintf(in->failure, sizeof in->failure,
                  "truncated while being read");
    return -1;
  }
  in->size_seen = size;
  in->offset += static_cast<uint64_t>(n);
  return n;
}

// One read(2) gives what the descriptor holds now, so that the scan acts on
// each line as it arrives and not once a read is full.
ssize_t descriptor_read(input *in, char *buf, std::size_t count) {
  for (;;) {
    ssize_t n = read(in->fd, buf, count);
    if (n >= 0) {
      in->offset += static_cast<uint64_t>(n);
      return n;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A descriptor the parent left non-blocking: wait as a blocking one
      // would.
      pollfd ready = {in->fd, POLLIN, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR)
        return -1;
    } else if (errno != EINTR) {
      return -1;
    }
  }
}

// Moves stdio's stream to offset, when it stands elsewhere.
bool stream_to(input *in, uint64_t offset) {
  if (in->stream_at == offset)
    return true;
  if (fseeko(in->stream, static_cast<off_t>(offset), SEEK_SET) != 0)
    return false;
  in->stream_at = offset;
  return true;
}

ssize_t stream_read_at(input *in, uint64_t offset, char *buf,
                       std::size_t count) {
  if (!stream_to(in, offset))
    return -1;
  for (;;) {
    std::clearerr(in->stream);
    std::size_t n = std::fread(buf, 1, count, in->stream);
    in->stream_at += n;
    if (n != 0 || !std::ferror(in->stream))
      return static_cast<ssize_t>(n);
    if (errno != EINTR)
      return -1;
  }
}

ssize_t stream_read(input *in, char *buf, std::size_t count) {
  ssize_t n = stream_read_at(in, in->offset, buf, count);
  if (n > 0)
    in->offset += static_cast<uint64_t>(n);
  return n;
}

} // namespace

ssize_t file_read_at(input *in, uint64_t offset, char *buf, std::size_t count) {
  for (;;) {
    ssize_t n = pread(in->fd, buf, count, static_cast<off_t>(offset));
    if (n >= 0 || errno != EINTR)
      return n;
  }
}

bool open_input(input *in, FILE *stream) {
  *in = input{};
  in->stream = stream;
  in->fd = fileno(stream);
  struct stat st;
  if (in->fd >= 0 && fstat(in->fd, &st) == 0 && S_ISREG(st.st_mode)) {
    off_t here = lseek(in->fd, 0, SEEK_CUR);
    if (here < 0)
      return false;
    in->read = file_read;
    in->read_at = file_read_at;
    in->regular = true;
    in->offset = static_cast<uint64_t>(here);
    in->size_seen = static_cast<uint64_t>(st.st_size);
  } else if (in->fd >= 0) {
    in->read = descriptor_read;
    in->may_wait = true;
  } else {
    // A made-up stream that can seek is searched as a file is.
    off_t here = ftello(stream);
    in->read = stream_read;
    in->read_at = here >= 0 ? stream_read_at : nullptr;
    in->offset = in->stream_at = here >= 0 ? static_cast<uint64_t>(here) : 0;
  }
  return true;
}

void close_input(input *in) {
  if (in->close != nullptr)
    in->close(in);
  in->close = nullptr;
}

int64_t input_size(input *in) {
  struct stat st;
  if (in->fd >= 0)
    return fstat(in->fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  if (in->stream == nullptr || fseeko(in->stream, 0, SEEK_END) != 0)
    return -1;
  off_t size = ftello(in->stream);
  in->stream_at = static_cast<uint64_t>(size);
  return static_cast<int64_t>(size);
}

ssize_t read_fully_at(input *in, uint64_t offset, char *buf,
                      std::size_t count) {
  std::size_t got = 0;
  // A regular file gives less than was asked only at its end, but for the
  // kernel's files (/proc), which give a page at a time.
  while (got < count) {
    ssize_t n = in->read_at(in, offset + got, buf + got, count - got);
    // The bytes read before an error are given; the next read fails.
    if (n < 0 && got == 0)
      return -1;
    if (n <= 0)
      break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}
