#include "virtual_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

ssize_t read_virtual(void *cookie, char *buf, std::size_t n) {
  auto *f = static_cast<virtual_file *>(cookie);
  if (f->pos >= f->fail_at) {
    errno = EIO;
    return -1;
  }
  if (f->pos >= f->size)
    return 0;
  n = std::min<uint64_t>({n, f->size - f->pos, f->fail_at - f->pos});
  f->content(f->pos, buf, n);
  // An unbuffered stream reads a byte at a time: a read that goes on where
  // the last one ended belongs to it.
  if (f->pos != f->next_read)
    f->reads.push_back(f->pos);
  f->pos += n;
  f->next_read = f->pos;
  f->bytes_read += n;
  return static_cast<ssize_t>(n);
}

int seek_virtual(void *cookie, off64_t *offset, int whence) {
  auto *f = static_cast<virtual_file *>(cookie);
  if (!f->seekable)
    return -1;
  int64_t base = whence == SEEK_SET   ? 0
                 : whence == SEEK_CUR ? static_cast<int64_t>(f->pos)
                                      : static_cast<int64_t>(f->size);
  if (base + *offset < 0)
    return -1;
  f->pos = static_cast<uint64_t>(base + *offset);
  *offset = static_cast<off64_t>(f->pos);
  return 0;
}

} // namespace

virtual_file file_of(const std::string &bytes) {
  virtual_file f;
  auto data = std::make_shared<std::string>(bytes);
  f.size = bytes.size();
  f.content = [data](uint64_t offset, char *buf, std::size_t n) {
    std::memcpy(buf, data->data() + offset, n);
  };
  return f;
}

FILE *open_virtual(virtual_file *f) {
  cookie_io_functions_t io{};
  io.read = read_virtual;
  io.seek = seek_virtual;
  FILE *s = fopencookie(f, "r", io);
  std::setvbuf(s, nullptr, _IONBF, 0);
  return s;
}
