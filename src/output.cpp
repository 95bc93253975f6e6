// Writes and messages: every byte stampcut writes, records and messages
// alike, goes out through write_all, so that neither a signal nor a
// non-blocking descriptor cuts it short.
#include "stampcut.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

bool write_all(FILE *out, const char *data, std::size_t size) {
  int fd = fileno(out);
  if (fd < 0) // a stream a program made up, without a descriptor
    return std::fwrite(data, 1, size, out) == size;
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n >= 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd ready = {fd, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR)
        return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

void say(const char *format, ...) {
  char text[8192];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0)
    return;
  if (static_cast<std::size_t>(n) >= sizeof text) {
    n = sizeof text - 1;
    text[n - 1] = '\n'; // cut short, but still a line
  }
  write_all(stderr, text, static_cast<std::size_t>(n));
}

void report(const char *name, const char *reason) {
  say("stampcut: %s: %s\n", name, reason);
}

void escape(const char *p, std::size_t length, char (&out)[escaped_size]) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < length && i < 60; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\')
      out[n++] = static_cast<char>(c);
    else
      n += static_cast<std::size_t>(std::snprintf(
          out + n, sizeof out - n, c == '\\' ? "\\\\" : "\\x%02x", c));
  }
  out[n] = '\0';
}
