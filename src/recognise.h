// The catalogue of stamps recognised without -f (recognise.cpp), and the
// sample of a log that the choice among them reads (sample.cpp).
#ifndef STAMPCUT_RECOGNISE_H
#define STAMPCUT_RECOGNISE_H

#include "timing.h"

// Entries of the catalogue; entry 0 is the default stamp.
constexpr std::size_t catalogue_size = 27;

// The FORMAT of entry, or nullptr for entry 0.
const char *shape_format(std::size_t entry);

// Compiles entry (not 0) into *f, as -f compiles a FORMAT, but with any
// offset in its stamps read over rather than applied.
void compile_shape(std::size_t entry, stamp_format *f);

// A stretch of a log read for the choice, with one writable byte past it.
struct stretch {
  char *text;
  std::size_t size;
  bool from_line_start; // else its first line is cut, and not counted
  bool at_input_end;    // its last line ends the input, LF or not
};

// The entry that times the most lines, and how many: the earliest of
// those that time as many, entry 0 when none times any.
struct choice {
  std::size_t entry;
  std::size_t timed;
};

// Chooses among the catalogue by the lines of the stretches, year-less
// stamps placed against reference.
choice recognise(const stretch *stretches, std::size_t count,
                 int64_t reference);

struct log_sample;

// Under -m without -f, times args's lines by the catalogue's entry that
// times the most of the sample's lines, year-less stamps placed against
// reference; entry 0, the default stamp, needs no FORMAT.
void choose_format(run_args *args, const log_sample &sample, int64_t reference);

// Bytes of a log's head that the choice reads at most.
constexpr std::size_t head_room = std::size_t{1} << 16;

// A sample of a log: its head, and for a regular file the window at its
// middle too, which the search reads anyway.
struct log_sample {
  // Room for a zero after the text, and for the memo to compare a minute
  // at any byte of it.
  char head[head_room + minute_reach];
  char middle[window_size + minute_reach];
  stretch parts[2];
  std::size_t count;
  uint64_t bytes_read;
};

// Reads the sample of the input in, which can be entered anywhere and
// whose log begins at origin, leaving its reading position alone. False,
// with errno set, when a read fails.
bool read_sample(input *in, uint64_t origin, log_sample *s);

// Reads the head of an input that cannot be entered anywhere: what its
// first read brings, and on until it holds a whole line, the input's end or
// head_room bytes, without waiting for more. The bytes are the scan's to
// take first. False, with errno set, when a read fails.
bool read_head(input *in, log_sample *s);

#endif
