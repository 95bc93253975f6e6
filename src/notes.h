// Notes on standard error before and after a run (notes.cpp).
#ifndef STAMPCUT_NOTES_H
#define STAMPCUT_NOTES_H

#include "stampcut.h"

struct compression;

// Writes on standard error, once each, the notes on bounds that are
// neither numbers nor times, numbers past the year 9999, an END before
// START and a file compressed as packed says (nullptr: not compressed)
// that this stampcut cannot read, before the run reads anything. Whether it
// said anything.
bool note_mistakes(const compression *packed, const run_args *args);

// The part of those notes on the operands alone: arguments after END, and
// bounds that are neither numbers nor times. Whether it said anything.
bool note_operands(const run_args *args);

// Whether a note after this default-mode run names the command that reads
// the log's stamps, should the catalogue time its lines.
bool wants_shape(const run_args *args, const scan_result &r);

// What the notes after the output know of the log beside the scan.
struct outcome {
  const char *name;      // the file the notes name, when not FILE
  const char *late_name; // the file of the line out of order, when not FILE
  bool said_before;      // a note came before the run
  bool shape_recognised; // the catalogue times lines of the log
  bool year_from_file;   // a year-less stamp took the file's last change
  bool has_text;         // the log is not empty
  // The times of the log's first and last timed lines, or -1.
  int64_t first, last;
};

// Says, after the output, why the scan failed, where it stopped, a last
// record it did not write, that it timed nothing, or that nothing lay in
// the interval and where the log's lines lie. Whether it said anything.
bool note_outcome(const run_args *args, const scan_result &r, const outcome &o);

#endif
