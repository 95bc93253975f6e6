// -v, --verbose: what the run understood, and what it did (verbose.cpp).
#ifndef STAMPCUT_VERBOSE_H
#define STAMPCUT_VERBOSE_H

#include "stampcut.h"

// Says how lines are timed, the year rule's reference, and the bounds as
// the seconds they let through; from_file: the reference is the file's.
void say_understood(const run_args *args, bool from_file);

// Says where the scan began and after how many probes, the bytes read (the
// sample's, sampled, besides the search's and the scan's), the pieces
// written and why the run ended, in the file name, where the scan began;
// the line that ended it is in the file ended_in.
void say_done(const char *name, const char *ended_in, const run_args *args,
              const search_result &found, const scan_result &r,
              uint64_t sampled);

#endif
