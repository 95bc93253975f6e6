// Entry point: reads the command line, opens the log, reads the bounds,
// lets the search position it and the scan write the interval, then says
// what the output cannot show.
#include "follow.h"
#include "notes.h"
#include "open_log.h"
#include "verbose.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

int main(int argc, char **argv) {
  // One instant for every "now" of the run.
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  run_args args;
  switch (read_command_line(argc, argv, &args)) {
  case command::run:
    break;
  case command::usage:
    write_usage();
    return -1;
  case command::finished:
    return 0;
  case command::failed:
    return -1;
  }
  run_log log;
  if (!open_log(&args, now, &log))
    return -1;
  // Whether the log is FILE alone as it lies, which the search can enter.
  const bool searchable =
      !args.rotated && log.in == &log.plain && log.plain.read_at != nullptr;
  // Whether a year-less stamp takes the file's last change.
  const bool from_file = log.plain.regular;
  const stamp_format *format = run_format(&args);
  if (format != nullptr)
    set_reference(&args.format, log.reference);
  const timer how = {args.how, format};
  // A bound in FORMAT may lack a year, and takes the reference's: the
  // bounds are read once it is set, and before anything is read but the
  // log's end, where a time of day as START looks for the last line.
  bound_context context = {format, now, -1};
  if ((searchable || args.rotated) && names_time_of_day(args.start_text))
    context.last_line = last_line_time(&args, how, &log);
  if (!read_bounds(&args, context)) {
    // A bound may fail for a mistake in the other: a file named as START.
    note_operands(&args);
    close_log(&log);
    return -1;
  }
  outcome o = {};
  o.said_before = note_mistakes(log.packed, &args);
  o.year_from_file = from_file;
  if (args.verbose)
    say_understood(&args, from_file);
  // With slack, a line of the interval may follow lines up to slack seconds
  // later than it: the search looks for the last line that far before
  // START, and the scan reads on as far past END.
  const uint64_t target =
      args.start.value > args.slack ? args.start.value - args.slack : 0;
  // -F follows FILE when it is read as it lies, a regular file, or with
  // -r the set's live file; a stream, or a compressed file, is read to its
  // end as without it.
  const bool follows =
      args.follow && (args.rotated || (searchable && log.plain.regular &&
                                       std::strcmp(args.file, "-") != 0));
  follow_state following;
  if (follows)
    prepare_follow(&following,
                   args.end.value == 0 ? 0
                   : args.end.value > UINT64_MAX - args.slack
                       ? UINT64_MAX
                       : args.end.value + args.slack,
                   format, STDOUT_FILENO);
  log.follow = follows && args.rotated ? &following : nullptr;
  search_result found = {0, 0, 0, 0};
  if (args.rotated) {
    if (!read_set_from(&args, target, how, &log, &found)) {
      close_log(&log);
      return -1;
    }
  } else {
    found = find_start(log.in, target, how);
  }
  if (found.error != 0) {
    report(args.file, std::strerror(found.error));
    close_log(&log);
    return -1;
  }
  input followed;
  if (follows && !args.rotated) {
    if (!open_follow(&followed, &following, log.in, args.file)) {
      report(args.file, std::strerror(errno));
      close_log(&log);
      return -1;
    }
    log.in = &followed;
  }
  // What was read of a stream before the scan is its first bytes.
  const std::size_t head = searchable ? 0 : log.sample.parts[0].size;
  scan_result r = scan_records(log.in, args.start.value, args.end.value, stdout,
                               how, log.sample.head, head, args.slack);
  // In a set, the notes name the file they arise in, and its offsets.
  const set_reader &reader = log.set_reading;
  if (args.rotated && r.end == scan_end::failed && !reader.failed.empty()) {
    o.name = reader.failed.c_str();
    std::snprintf(r.failure, sizeof r.failure, "%s", reader.failure);
  } else if (args.rotated) {
    bool at_piece = r.end == scan_end::past_end || r.end == scan_end::stopped;
    // Without a piece that ended it, the notes are on the set's last bytes.
    uint64_t given = log.joined.offset, own;
    const set_file *f = file_holding(log.set,
                                     at_piece    ? r.end_offset
                                     : given > 0 ? given - 1
                                                 : 0,
                                     &own);
    o.name = f != nullptr ? f->path.c_str() : nullptr;
    if (at_piece && f != nullptr)
      r.end_offset = own;
    if (r.largest_step != 0) {
      f = file_holding(log.set, r.late_after_at, &r.late_after_at);
      o.late_name = f != nullptr ? f->path.c_str() : nullptr;
    }
  }
  o.first = o.last = -1;
  o.has_text = searchable
                   ? input_size(&log.plain) > static_cast<int64_t>(log.origin)
                   : log.sample.parts[0].size > 0;
  if (r.written == 0 && r.status == 0) {
    if (args.rotated) {
      for (const set_file &f : log.set)
        if (o.first < 0 && f.first_time >= 0)
          o.first = f.first_time;
      int64_t first_line;
      edge_times(&log.plain, 0, how, &first_line, &o.last);
    } else if (searchable) {
      edge_times(log.in, log.origin, how, &o.first, &o.last);
    }
    // Where the ends hold no timed line within reach, the lines the scan
    // met are what is known.
    if (o.first < 0)
      o.first = r.first_time;
    if (o.last < 0)
      o.last = r.last_time;
  }
  if (wants_shape(&args, r)) {
    if (!log.sampled && searchable)
      log.sampled = read_sample(log.in, log.origin, &log.sample);
    o.shape_recognised =
        log.sampled &&
        recognise(log.sample.parts, log.sample.count, log.reference).timed > 0;
  }
  close_log(&log);
  note_outcome(&args, r, o);
  if (args.verbose) {
    // In a set, the scan began in the first file read.
    uint64_t own;
    const set_file *began = file_holding(log.set, 0, &own);
    const char *ended_in = o.name != nullptr ? o.name : args.file;
    say_done(began != nullptr ? began->path.c_str() : ended_in, ended_in, &args,
             found, r, log.sampled ? log.sample.bytes_read : 0);
  }
  // A follow that a signal ended ends the run by it, once all is said.
  if (follows && !end_follow(&following))
    return -1;
  return r.status;
}
