// -F, --follow: a log file read on past its end as it grows, through log
// rotation and copytruncate, until END has passed, a signal or the reader
// of the output ends the run: a kind of input (follow.cpp).
#ifndef STAMPCUT_FOLLOW_H
#define STAMPCUT_FOLLOW_H

#include "stampcut.h"

// What a followed input keeps besides the input's own fields: its file
// is the one at its path when it was opened, then each file that replaces
// it there.
struct follow_state {
  const char *name; // FILE as typed: its path, and the name messages give
  int notify;       // inotify's descriptor, or -1: timed looks alone
  int file_watch;   // the watch on the file being read, or -1
  int out;          // output whose reader leaving ends the follow, or -1
  // With END, the follow ends once the clock, read as the log's stamps
  // are, is later than END plus the slack by the grace; the scan ends it
  // sooner at a line past END.
  bool has_deadline;
  uint64_t deadline;
  const stamp_format *format;
  bool reader_gone; // the output's reader went away while the file was idle
};

// Readies f for a follow that ends: end is END plus the slack (0: no
// END), read with format as the bounds were; out is the output's
// descriptor.
void prepare_follow(follow_state *f, uint64_t end, const stamp_format *format,
                    int out);

// Makes followed the input that reads the regular file that file reads,
// from file's reading position on, and past its end: there a read waits
// for the file to grow or to be replaced at name, its path, and ends (0)
// once the follow does, setting broken so that a half-written last line
// is not taken for a line. Catches SIGINT and SIGTERM, unless ignored, so
// that the run ends with every whole line written. f, readied, must
// outlive followed. False, with errno set, when the file cannot be taken.
bool open_follow(input *followed, follow_state *f, const input *file,
                 const char *name);

// Once the output is written: a run that a signal ended ends now by that
// signal, as the shell expects; one whose reader went away, by SIGPIPE.
// False, said, when SIGPIPE is ignored: the run then fails as a write to
// the pipe would have.
bool end_follow(const follow_state *f);

#endif
