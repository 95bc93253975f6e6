// Line ends found many at a time: the LF bytes of a stretch of the scan's
// buffer, and its CR bytes too, listed in one pass over 64 bytes at a time
// instead of one search for each line. The vector code is written with the
// compilers' generic vectors, which become SSE2 on x86-64, NEON on arm64
// and plain code elsewhere; a plain twin of the same contract is what the
// tests and the fuzz target hold it to.
#include "stampcut.h"

namespace {

constexpr std::size_t chunk = 64;

// The bits of the ends in the chunk at p, by plain byte compares: bit i for
// byte i.
uint64_t plain_bits(const char *p, bool with_cr) {
  uint64_t bits = 0;
  for (std::size_t i = 0; i < chunk; ++i)
    if (p[i] == '\n' || (with_cr && p[i] == '\r'))
      bits |= uint64_t{1} << i;
  return bits;
}

#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__

typedef unsigned char bytes16 __attribute__((vector_size(16)));
typedef uint16_t halves16 __attribute__((vector_size(16)));

// 0xff in each lane of the 16 bytes at p that ends a line, 0 elsewhere.
bytes16 ends16(const char *p, bool with_cr) {
  bytes16 v;
  std::memcpy(&v, p, sizeof v);
  bytes16 hit = reinterpret_cast<bytes16>(v == '\n');
  if (with_cr)
    hit |= reinterpret_cast<bytes16>(v == '\r');
  return hit;
}

// The low byte of each lane of a, then of each lane of b: a pack of two
// vectors into one, which SSE2 and NEON do in one or two instructions.
bytes16 low_bytes(halves16 a, halves16 b) {
  bytes16 x = reinterpret_cast<bytes16>(a), y = reinterpret_cast<bytes16>(b);
#ifdef __clang__
  return __builtin_shufflevector(x, y, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20,
                                 22, 24, 26, 28, 30);
#else
  const bytes16 even = {0,  2,  4,  6,  8,  10, 12, 14,
                        16, 18, 20, 22, 24, 26, 28, 30};
  return __builtin_shuffle(x, y, even);
#endif
}

// Lanes that hold the ends of four bytes, two in each of their bytes (the
// first in bit 0, the second in bits 1 to 7), as lanes that hold one bit
// for each of the four, in their low four bits.
halves16 fours(halves16 pairs) {
  return (pairs & 3) | ((pairs >> 6) & 12);
}

// The bits of the ends in the chunk at p, as plain_bits gives them. The
// steps pack two vectors into one, keeping the bytes' order: a byte for
// each byte (0 or 0xff), then for each two, each four and each eight.
inline uint64_t vector_bits(const char *p, bool with_cr) {
  halves16 c0 = reinterpret_cast<halves16>(ends16(p, with_cr));
  halves16 c1 = reinterpret_cast<halves16>(ends16(p + 16, with_cr));
  halves16 c2 = reinterpret_cast<halves16>(ends16(p + 32, with_cr));
  halves16 c3 = reinterpret_cast<halves16>(ends16(p + 48, with_cr));
  // A byte for each two bytes: bits 7 to 14 of each lane.
  halves16 p01 = reinterpret_cast<halves16>(low_bytes(c0 >> 7, c1 >> 7));
  halves16 p23 = reinterpret_cast<halves16>(low_bytes(c2 >> 7, c3 >> 7));
  // A byte for each four bytes, a bit each in its low half; then the low
  // byte of each lane for the eight bytes of its two.
  halves16 octets =
      reinterpret_cast<halves16>(low_bytes(fours(p01), fours(p23)));
  octets |= octets >> 4;
  bytes16 bits = low_bytes(octets, octets);
  uint64_t out;
  std::memcpy(&out, &bits, sizeof out);
  return out;
}

#else

// A big-endian machine holds the two bytes of a 16-bit lane the other way
// round, and the steps above would not keep their order.
uint64_t vector_bits(const char *p, bool with_cr) {
  return plain_bits(p, with_cr);
}

#endif

// Lists in ends[n...] the ends among the chunk's bits, the chunk at offset
// at; returns the new count.
inline std::size_t list_bits(uint64_t bits, std::size_t at, uint32_t *ends,
                             std::size_t n) {
  // Two ends are listed without a branch, since a chunk of most logs holds
  // one or two; the bit above them stands in for an end that is not there,
  // whose place the next end then takes.
  uint32_t base = static_cast<uint32_t>(at);
  for (int slot = 0; slot < 2; ++slot) {
    ends[n] =
        base + static_cast<uint32_t>(__builtin_ctzll(bits | uint64_t{1} << 63));
    n += bits != 0 ? 1 : 0;
    bits &= bits - 1;
  }
  for (; bits != 0; bits &= bits - 1)
    ends[n++] = base + static_cast<uint32_t>(__builtin_ctzll(bits));
  return n;
}

// Lists the ends of text[from, to) by the bits that bits_of gives for each
// chunk: see find_line_ends.
template <bool with_cr, uint64_t (*bits_of)(const char *, bool)>
std::size_t list_ends(const char *text, std::size_t from, std::size_t to,
                      uint32_t *ends, std::size_t *listed) {
  std::size_t n = 0, at = from;
  // Invariant: the n ends in [from, at) are listed.
  for (; to - at >= chunk && n + chunk <= line_ends_room; at += chunk)
    n = list_bits(bits_of(text + at, with_cr), at, ends, n);
  if (at < to && to - at < chunk && n + chunk <= line_ends_room) {
    // The last bytes, in a chunk of their own: nothing past to is read.
    char last[chunk] = {};
    std::memcpy(last, text + at, to - at);
    n = list_bits(bits_of(last, with_cr), at, ends, n);
    at = to;
  }
  *listed = at;
  return n;
}

} // namespace

std::size_t find_line_ends(const char *text, std::size_t from, std::size_t to,
                           bool with_cr, uint32_t *ends, std::size_t *listed) {
  return with_cr ? list_ends<true, vector_bits>(text, from, to, ends, listed)
                 : list_ends<false, vector_bits>(text, from, to, ends, listed);
}

std::size_t find_line_ends_plain(const char *text, std::size_t from,
                                 std::size_t to, bool with_cr, uint32_t *ends,
                                 std::size_t *listed) {
  return with_cr ? list_ends<true, plain_bits>(text, from, to, ends, listed)
                 : list_ends<false, plain_bits>(text, from, to, ends, listed);
}
