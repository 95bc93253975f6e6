// The log as the search, the sample and the scan read it (input.cpp): a
// regular file, a stream, a decompression of either, or a rotated set of
// these, each behind the same few calls, so that none of its readers knows
// which it reads.
#ifndef STAMPCUT_INPUT_H
#define STAMPCUT_INPUT_H

#include <cstdint>
#include <cstdio>
#include <sys/types.h>

struct input {
  // Reads up to count bytes from the reading position to buf and moves past
  // them: a regular file gives count bytes unless it ends first; anything
  // else gives what it holds now, waiting only while it holds nothing.
  // Returns the bytes read, 0 at the end, -1 after an error (failure, when
  // set, or else errno says why).
  ssize_t (*read)(input *in, char *buf, std::size_t count);
  // Reads up to count bytes at offset, fewer at the end (or as the kernel's
  // files give them), without moving the reading position; nullptr for an
  // input that cannot be entered anywhere.
  ssize_t (*read_at)(input *in, uint64_t offset, char *buf, std::size_t count);
  // Frees what the kind holds; nullptr when it holds nothing.
  void (*close)(input *in);
  void *state;   // the kind's own
  int fd;        // the descriptor read, for fstat and advice, or -1
  FILE *stream;  // a stream without a descriptor, which stdio reads
  bool regular;  // a regular file: read in large reads, its records can be
                 // read again
  bool may_wait; // a read may wait for a writer: what is selected goes
                 // out before it
  // Set by read when the bytes it gives do not follow on from those before
  // (the file was cut and written anew): the scan drops the incomplete
  // record it holds, then clears it.
  bool broken;
  uint64_t offset;    // the reading position, as an offset in the log
  uint64_t stream_at; // where stdio's stream stands
  uint64_t size_seen; // the regular file's size when last seen (0: never)
  char failure[128];  // why the last read failed, when errno cannot say
};

// Makes in read stream from where it stands: a regular file by its
// descriptor, entered anywhere; any other descriptor as its bytes arrive;
// a stream without one through stdio. False, with errno set, when where it
// stands cannot be told.
bool open_input(input *in, FILE *stream);

// Closes what the input's kind holds (not the stream it was opened on).
void close_input(input *in);

// The size of an input that can be entered anywhere, or -1 with errno set.
int64_t input_size(input *in);

// The read_at of a regular file, for the kinds that read one.
ssize_t file_read_at(input *in, uint64_t offset, char *buf, std::size_t count);

// Reads count bytes at offset, fewer only at the end; -1 after an error.
ssize_t read_fully_at(input *in, uint64_t offset, char *buf, std::size_t count);

#endif
