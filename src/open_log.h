// The log a run reads, opened (open_log.cpp): the file or standard input,
// read as it is, through its decompression, or with the files rotation
// made of it; and how its lines are timed, when the run must find out.
#ifndef STAMPCUT_OPEN_LOG_H
#define STAMPCUT_OPEN_LOG_H

#include "rotated.h"

struct run_log {
  FILE *file;  // FILE, or standard input
  input plain; // FILE's bytes as they lie
  decompression unpacking;
  input unpacked;            // what the decompression makes of them
  std::vector<set_file> set; // with -r: the set, oldest first
  set_reader set_reading;
  input joined; // with -r: the set's files one after the other
  input *in;    // what the search and the scan read: one of the above
  const compression *packed; // FILE's compression, or nullptr
  // Where the log begins in FILE, and the time a reading without a year is
  // placed against.
  uint64_t origin;
  int64_t reference;
  log_sample sample; // what recognition read; a stream's head, the scan's
  bool sampled;
  // With -F and -r, how the set's live file is followed; else nullptr.
  follow_state *follow;
};

// Opens the log that args name and settles how its lines are timed (for a
// set, each file's first line too). False after saying why it cannot.
bool open_log(run_args *args, int64_t now, run_log *log);

// With -r: searches the first file of the set that can hold a line later
// than target, unless compressed, and makes log->in read the set from
// there on. False after saying why it cannot.
bool read_set_from(run_args *args, uint64_t target, const timer &how,
                   run_log *log, search_result *found);

// The time of the last timed line of the log, or of the newest file of the
// set that has one, within reach of its end; -1 when none is found.
int64_t last_line_time(run_args *args, const timer &how, run_log *log);

// Closes what open_log opened.
void close_log(run_log *log);

#endif
