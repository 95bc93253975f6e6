// Compressed logs read in-process: the compressed bytes are fed, a piece at
// a time, to the library made for their format, and what it makes is read
// as a pipe's bytes are, by the same window, cutting and timing. Members
// (gzip, bzip2) and frames or streams (xz, zstd) that follow one another are
// read in turn. Memory stays fixed: the library's state and window, and one
// piece of compressed input.
#include "compressed.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#ifdef STAMPCUT_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef STAMPCUT_HAVE_BZIP2
#include <bzlib.h>
#endif
#ifdef STAMPCUT_HAVE_LZMA
#include <lzma.h>
#endif
#ifdef STAMPCUT_HAVE_ZSTD
// For the frame header, whose window a file states before it is decoded.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>
#endif

// How a decoding step ended.
enum class decoded { more, member_end, failed };

// One format's library behind three calls: begin a member, decode from the
// fed bytes into out (*made bytes), and free the state.
struct codec {
  bool (*begin)(decompression *d);
  decoded (*step)(decompression *d, char *out, std::size_t size,
                  std::size_t *made);
  void (*end)(decompression *d);
};

namespace {

__attribute__((format(printf, 2, 3))) decoded
fail_with(decompression *d, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(d->failure, sizeof d->failure, format, args);
  va_end(args);
  return decoded::failed;
}

decoded corrupt(decompression *d) {
  return fail_with(d, "corrupt %s data near byte %llu", d->kind->name,
                   static_cast<unsigned long long>(d->consumed));
}

// The fed bytes not yet decoded.
unsigned char *fed(decompression *d) {
  return d->packed + d->packed_at;
}
std::size_t fed_size(const decompression *d) {
  return d->packed_size - d->packed_at;
}

// Takes n fed bytes as decoded.
void take(decompression *d, std::size_t n) {
  d->packed_at += n;
  d->consumed += n;
}

#ifdef STAMPCUT_HAVE_ZLIB
bool gzip_begin(decompression *d) {
  z_stream *z = static_cast<z_stream *>(d->state);
  if (z == nullptr) {
    z = new z_stream{};
    d->state = z;
    // 15 + 16: a gzip member, with the largest window there is (32 KiB).
    if (inflateInit2(z, 15 + 16) != Z_OK) {
      fail_with(d, "zlib cannot start: %s", z->msg ? z->msg : "no memory");
      return false;
    }
    return true;
  }
  return inflateReset(z) == Z_OK;
}

decoded gzip_step(decompression *d, char *out, std::size_t size,
                  std::size_t *made) {
  z_stream *z = static_cast<z_stream *>(d->state);
  z->next_in = fed(d);
  z->avail_in = static_cast<uInt>(fed_size(d));
  z->next_out = reinterpret_cast<Bytef *>(out);
  z->avail_out = static_cast<uInt>(size);
  int r = inflate(z, Z_NO_FLUSH);
  take(d, fed_size(d) - z->avail_in);
  *made = size - z->avail_out;
  if (r == Z_STREAM_END)
    return decoded::member_end;
  return r == Z_OK || r == Z_BUF_ERROR ? decoded::more : corrupt(d);
}

void gzip_end(decompression *d) {
  z_stream *z = static_cast<z_stream *>(d->state);
  inflateEnd(z);
  delete z;
}
#endif

#ifdef STAMPCUT_HAVE_BZIP2
bool bzip2_begin(decompression *d) {
  bz_stream *b = static_cast<bz_stream *>(d->state);
  if (b == nullptr)
    d->state = b = new bz_stream{};
  else
    BZ2_bzDecompressEnd(b);
  *b = bz_stream{};
  if (BZ2_bzDecompressInit(b, 0, 0) != BZ_OK) {
    fail_with(d, "libbz2 cannot start");
    return false;
  }
  return true;
}

decoded bzip2_step(decompression *d, char *out, std::size_t size,
                   std::size_t *made) {
  bz_stream *b = static_cast<bz_stream *>(d->state);
  b->next_in = reinterpret_cast<char *>(fed(d));
  b->avail_in = static_cast<unsigned>(fed_size(d));
  b->next_out = out;
  b->avail_out = static_cast<unsigned>(size);
  int r = BZ2_bzDecompress(b);
  take(d, fed_size(d) - b->avail_in);
  *made = size - b->avail_out;
  if (r == BZ_STREAM_END)
    return decoded::member_end;
  return r == BZ_OK ? decoded::more : corrupt(d);
}

void bzip2_end(decompression *d) {
  bz_stream *b = static_cast<bz_stream *>(d->state);
  BZ2_bzDecompressEnd(b);
  delete b;
}
#endif

#ifdef STAMPCUT_HAVE_LZMA
// The dictionary counts against the limit, and so does the decoder's own
// state, a few hundred KiB.
constexpr uint64_t lzma_limit = window_limit + (uint64_t{1} << 20);

bool xz_begin(decompression *d) {
  lzma_stream *x = static_cast<lzma_stream *>(d->state);
  if (x == nullptr)
    d->state = x = new lzma_stream;
  else
    lzma_end(x);
  *x = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(x, lzma_limit, 0) != LZMA_OK) {
    fail_with(d, "liblzma cannot start");
    return false;
  }
  return true;
}

decoded xz_step(decompression *d, char *out, std::size_t size,
                std::size_t *made) {
  lzma_stream *x = static_cast<lzma_stream *>(d->state);
  x->next_in = fed(d);
  x->avail_in = fed_size(d);
  x->next_out = reinterpret_cast<uint8_t *>(out);
  x->avail_out = size;
  lzma_ret r = lzma_code(x, d->in_ended ? LZMA_FINISH : LZMA_RUN);
  take(d, fed_size(d) - x->avail_in);
  *made = size - x->avail_out;
  switch (r) {
  case LZMA_STREAM_END:
    return decoded::member_end;
  case LZMA_OK:
    return decoded::more;
  case LZMA_BUF_ERROR: // no progress at the input's end
    return fail_with(d, "truncated xz data");
  case LZMA_MEMLIMIT_ERROR:
    return fail_with(d,
                     "xz data needs %llu MiB, more than stampcut allows "
                     "(128 MiB)",
                     static_cast<unsigned long long>(lzma_memusage(x) >> 20));
  default:
    return corrupt(d);
  }
}

void xz_end(decompression *d) {
  lzma_stream *x = static_cast<lzma_stream *>(d->state);
  lzma_end(x);
  delete x;
}
#endif

#ifdef STAMPCUT_HAVE_ZSTD
// A size in the largest unit that divides it, as a message shows it.
void say_size(uint64_t bytes, char *out, std::size_t room) {
  static const char *const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (unit < 4 && bytes >= 1024 && bytes % 1024 == 0) {
    bytes /= 1024;
    ++unit;
  }
  std::snprintf(out, room, "%llu %s", static_cast<unsigned long long>(bytes),
                units[unit]);
}

bool zstd_begin(decompression *d) {
  // The window a frame asks for is in its header: refuse it before any
  // memory is taken for it.
  ZSTD_frameHeader header;
  if (ZSTD_getFrameHeader(&header, fed(d), fed_size(d)) == 0 &&
      header.windowSize > window_limit) {
    char size[32];
    say_size(header.windowSize, size, sizeof size);
    fail_with(d, "zstd window of %s is more than stampcut allows (128 MiB)",
              size);
    return false;
  }
  ZSTD_DStream *z = static_cast<ZSTD_DStream *>(d->state);
  if (z == nullptr) {
    z = ZSTD_createDStream();
    d->state = z;
    if (z == nullptr ||
        ZSTD_isError(ZSTD_DCtx_setParameter(z, ZSTD_d_windowLogMax, 27))) {
      fail_with(d, "libzstd cannot start");
      return false;
    }
  }
  return !ZSTD_isError(ZSTD_DCtx_reset(z, ZSTD_reset_session_only));
}

decoded zstd_step(decompression *d, char *out, std::size_t size,
                  std::size_t *made) {
  ZSTD_DStream *z = static_cast<ZSTD_DStream *>(d->state);
  ZSTD_inBuffer in = {fed(d), fed_size(d), 0};
  ZSTD_outBuffer o = {out, size, 0};
  std::size_t r = ZSTD_decompressStream(z, &o, &in);
  take(d, in.pos);
  *made = o.pos;
  if (ZSTD_isError(r)) {
    if (ZSTD_getErrorCode(r) == ZSTD_error_frameParameter_windowTooLarge)
      return fail_with(d, "zstd window is more than stampcut allows "
                          "(128 MiB)");
    return corrupt(d);
  }
  return r == 0 ? decoded::member_end : decoded::more;
}

void zstd_end(decompression *d) {
  ZSTD_freeDStream(static_cast<ZSTD_DStream *>(d->state));
}
#endif

#ifdef STAMPCUT_HAVE_ZLIB
constexpr codec gzip = {gzip_begin, gzip_step, gzip_end};
#endif
#ifdef STAMPCUT_HAVE_BZIP2
constexpr codec bzip2 = {bzip2_begin, bzip2_step, bzip2_end};
#endif
#ifdef STAMPCUT_HAVE_LZMA
constexpr codec xz = {xz_begin, xz_step, xz_end};
#endif
#ifdef STAMPCUT_HAVE_ZSTD
constexpr codec zstd = {zstd_begin, zstd_step, zstd_end};
#endif

constexpr compression compressions[] = {
#ifdef STAMPCUT_HAVE_ZLIB
    {"gzip", "zcat", "\x1f\x8b", 2, nullptr, &gzip, true},
#else
    {"gzip", "zcat", "\x1f\x8b", 2, nullptr, nullptr, true},
#endif
// The block size, 1 to 9, follows: "BZh" alone may begin a line of text.
#ifdef STAMPCUT_HAVE_BZIP2
    {"bzip2", "bzcat", "BZh", 3, "123456789", &bzip2, true},
#else
    {"bzip2", "bzcat", "BZh", 3, "123456789", nullptr, true},
#endif
#ifdef STAMPCUT_HAVE_LZMA
    {"xz", "xzcat",
     "\xfd"
     "7zXZ\0",
     6, nullptr, &xz, true},
#else
    {"xz", "xzcat",
     "\xfd"
     "7zXZ\0",
     6, nullptr, nullptr, true},
#endif
#ifdef STAMPCUT_HAVE_ZSTD
    {"zstd", "zstdcat", "\x28\xb5\x2f\xfd", 4, nullptr, &zstd, false},
#else
    {"zstd", "zstdcat", "\x28\xb5\x2f\xfd", 4, nullptr, nullptr, false},
#endif
};

// Feeds the next piece of compressed input, when all that was fed is
// decoded; false after a read error.
bool feed(decompression *d) {
  if (fed_size(d) != 0 || d->in_ended)
    return true;
  ssize_t n =
      d->in->read(d->in, reinterpret_cast<char *>(d->packed), packed_room);
  if (n < 0) {
    std::snprintf(d->failure, sizeof d->failure, "%s",
                  d->in->failure[0] != '\0' ? d->in->failure
                                            : std::strerror(errno));
    return false;
  }
  d->packed_at = 0;
  d->packed_size = static_cast<std::size_t>(n);
  d->in_ended = n == 0;
  return true;
}

// The input's read: at least one decompressed byte, or 0 at the end of the
// last member, or -1 once the input is found corrupt, truncated or unread.
ssize_t read_decompressed(input *in, char *buf, std::size_t size) {
  decompression *d = static_cast<decompression *>(in->state);
  const codec *c = d->kind->decoder;
  std::size_t made = 0;
  // Invariant: nothing has been made by this call yet, and the failure is
  // empty.
  while (made == 0 && d->failure[0] == '\0') {
    if (!feed(d))
      break;
    if (!d->member_open) {
      if (d->kind->padded) {
        std::size_t zeros = 0;
        while (zeros < fed_size(d) && fed(d)[zeros] == 0)
          ++zeros;
        take(d, zeros);
        if (fed_size(d) == 0 && !d->in_ended)
          continue;
      }
      // The input's end after a whole member ends the log; anything else
      // begins the next member.
      if (fed_size(d) == 0 && d->in_ended)
        return 0;
      if (!c->begin(d))
        break;
      d->member_open = true;
    }
    decoded r = c->step(d, buf, size, &made);
    if (r == decoded::failed)
      break;
    if (r == decoded::member_end)
      d->member_open = false;
    else if (made == 0 && fed_size(d) == 0 && d->in_ended)
      std::snprintf(d->failure, sizeof d->failure, "truncated %s data",
                    d->kind->name);
  }
  // What was decoded before a fault is the input's own: it goes out, and
  // the next read fails.
  if (made != 0) {
    in->offset += made;
    return static_cast<ssize_t>(made);
  }
  std::snprintf(in->failure, sizeof in->failure, "%s", d->failure);
  errno = EIO;
  return -1;
}

void close_decompressed(input *in) {
  decompression *d = static_cast<decompression *>(in->state);
  if (d->state != nullptr)
    d->kind->decoder->end(d);
  d->state = nullptr;
}

} // namespace

const compression *compression_of(const unsigned char *head, std::size_t n) {
  for (const compression &c : compressions) {
    std::size_t need = c.size + (c.then != nullptr ? 1 : 0);
    if (n >= need && std::memcmp(head, c.magic, c.size) == 0 &&
        (c.then == nullptr ||
         (head[c.size] != 0 && std::strchr(c.then, head[c.size]) != nullptr)))
      return &c;
  }
  return nullptr;
}

bool open_decompressed(decompression *d, const compression *kind, input *in,
                       const char *head, std::size_t head_size, input *out) {
  d->kind = kind;
  d->in = in;
  if (head_size != 0)
    std::memcpy(d->packed, head, head_size);
  d->packed_at = 0;
  d->packed_size = head_size;
  d->consumed = 0;
  d->in_ended = false;
  d->member_open = false;
  d->state = nullptr;
  d->failure[0] = '\0';
  if (kind->decoder == nullptr) {
    std::snprintf(d->failure, sizeof d->failure,
                  "this stampcut was built without %s", kind->name);
    return false;
  }
  *out = input{};
  out->read = read_decompressed;
  out->close = close_decompressed;
  out->state = d;
  out->fd = -1;
  // A compressed pipe waits for its writer as the pipe does.
  out->may_wait = in->may_wait;
  return true;
}
