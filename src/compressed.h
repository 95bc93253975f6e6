// Compressed logs read in-process (compressed.cpp): gzip, bzip2, xz and
// zstd, each by the library made for it, behind an input that gives the
// decompressed bytes as a pipe gives its own.
#ifndef STAMPCUT_COMPRESSED_H
#define STAMPCUT_COMPRESSED_H

#include "stampcut.h"

// A format's library behind the calls that decode it (compressed.cpp).
struct codec;

// A compressed format by the bytes its files begin with.
struct compression {
  const char *name;
  const char *tool; // prints the file decompressed
  const char *magic;
  std::size_t size;
  const char *then;     // the bytes that may follow the magic, or nullptr: any
  const codec *decoder; // nullptr: this stampcut was built without its
                        // library
  // Zero bytes may follow a member, and are passed over: xz's stream
  // padding, and the trailing zeros that gzip's and bzip2's own tools
  // accept.
  bool padded;
};

// Enough for the longest magic and the byte after any.
constexpr std::size_t magic_room = 8;

// The compression that the n bytes at head announce, or nullptr.
const compression *compression_of(const unsigned char *head, std::size_t n);

// Largest window or dictionary a compressed log may ask for: memory stays
// bounded whatever the file says.
constexpr uint64_t window_limit = uint64_t{128} << 20;

// Bytes of compressed input read at a time.
constexpr std::size_t packed_room = std::size_t{1} << 16;

// A decompression under way: the compressed input (the head_size bytes
// already read of it, then in from where it stands), the library's state,
// and why it failed, if it did.
struct decompression {
  const compression *kind;
  input *in;
  unsigned char packed[packed_room];
  std::size_t packed_at, packed_size; // what of packed is not yet fed
  uint64_t consumed;                  // compressed bytes fed so far
  bool in_ended;                      // in has no more bytes
  void *state;                        // the library's stream
  bool member_open;                   // a member is being decoded
  char failure[128];                  // why it failed, or empty
};

// Makes out the input of the bytes that d decompresses from in, whose
// first head_size bytes have been read to head already; false when the
// library cannot start (d->failure says why). d and in must outlive out;
// closing out frees the library's state, not in.
bool open_decompressed(decompression *d, const compression *kind, input *in,
                       const char *head, std::size_t head_size, input *out);

#endif
