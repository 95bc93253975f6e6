// -r, --rotated: a log with the files that log rotation made of it, read
// as one log, oldest first (rotated.cpp).
#ifndef STAMPCUT_ROTATED_H
#define STAMPCUT_ROTATED_H

#include "compressed.h"
#include "recognise.h"

#include <string>
#include <vector>

struct follow_state;

// A file of a rotated set.
struct set_file {
  std::string path;
  int64_t changed;    // its last change: its year rule's reference
  int64_t first_time; // its first timed line's, -1 when its first lines
                      // have none
  bool skipped;       // it holds no line of the interval, and is not read
  // Where its bytes begin among the set's, once it is opened, and at which
  // of its own offsets.
  uint64_t begin, from;
};

// Lists file and the files that rotation made of it in its folder
// (FILE.N and FILE-DATE, each optionally compressed), oldest first by
// their names. False, with errno set, when the folder cannot be read.
bool list_rotated(const char *file, std::vector<set_file> *files);

// Puts the files with a first timed line in the order of those lines; the
// files without one keep their places.
void order_by_first_lines(std::vector<set_file> *files);

// The first file that can hold a line later than start: the files before
// it, whose successors' first timed lines are not later than start, are
// marked skipped.
std::size_t first_to_read(std::vector<set_file> *files, uint64_t start);

// A set being read as one input: its files one after the other, each
// through its decompression when compressed, from the first to read on.
struct set_reader {
  std::vector<set_file> *files;
  std::size_t current;  // the file being read, or the next to open
  uint64_t offset;      // where the first file read is read from
  FILE *raw;            // the file being read
  input file, unpacked; // its bytes, and what its decompression makes of them
  input *log;           // the one of them that gives the log's bytes
  decompression unpacking;
  stamp_format *format; // its reference follows the file being read
  char failure[128];    // why a file failed, which failed names
  std::string failed;
  // With -F, the live file (the one at FILE's path, when not compressed)
  // is read through a follow, readied by the caller: follow, or nullptr.
  follow_state *follow;
  const char *live;
  input followed;
};

// Makes set the input of the set's bytes from file first, read from offset
// on (0 for a compressed file), as a pipe is read; format, when given,
// takes each file's own reference as that file is read. With follow, the
// file at path live is followed past its end. r must outlive set.
void open_set(set_reader *r, std::vector<set_file> *files, std::size_t first,
              uint64_t offset, stamp_format *format, input *set,
              follow_state *follow = nullptr, const char *live = nullptr);

// The file of the set that gave the byte at offset among the set's bytes,
// and *own, that byte's offset in it; nullptr when no file gave it.
const set_file *file_holding(const std::vector<set_file> &files,
                             uint64_t offset, uint64_t *own);

// Reads the first bytes of the file at path for the choice of a stamp
// shape and its first timed line: decompressed when compressed. False,
// with errno set, when it cannot be read.
bool read_file_head(const std::string &path, log_sample *sample);

// Chooses the shape under -m from the newest file that has stamps, times
// each file's first lines by it, each with its own reference, and orders
// the set by them. A file that cannot be read keeps its place by name.
void time_set(run_args *args, std::vector<set_file> *files, log_sample *sample);

// Opens the file f as in, *file its stream, unless it is compressed (and
// so cannot be entered anywhere, only read from its first byte). False,
// with errno set (0 for a compressed file) and nothing left open, when it
// is not opened.
bool open_plain(const set_file &f, FILE **file, input *in);

#endif
