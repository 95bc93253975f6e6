// Entry point: reads the command line, opens the log, settles how its lines
// are timed, lets the search position it and the scan write the interval,
// then says what the output cannot show.
#include "compressed.h"
#include "notes.h"
#include "recognise.h"
#include "rotated.h"
#include "verbose.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether standard output is the input file itself, which the run would
// then grow while reading it.
bool writes_to_itself(FILE *in) {
  struct stat a, b;
  // With standard output closed, the input took its descriptor: then the
  // first write fails instead.
  return fileno(in) != STDOUT_FILENO && fstat(fileno(in), &a) == 0 &&
         fstat(STDOUT_FILENO, &b) == 0 && S_ISREG(a.st_mode) &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether in is a regular file that the search can enter anywhere.
bool is_seekable_file(FILE *in) {
  struct stat st;
  return fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && ftello(in) >= 0;
}

// The time a reading without a year is placed against: the file's last
// change, which a log's last line is written shortly before; for anything
// else, now.
int64_t reference_time(FILE *in, int64_t now) {
  struct stat st;
  if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode))
    return static_cast<int64_t>(st.st_mtime);
  return now;
}

// Closes the log and, when it was read through a decompression, the file.
void close_log(FILE *log, FILE *in) {
  if (log != in)
    std::fclose(log);
  std::fclose(in);
}

} // namespace

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
  // "-" is standard input, as for other tools; "./-" names a file.
  bool standard_input = std::strcmp(args.file, "-") == 0;
  FILE *in = standard_input ? stdin : std::fopen(args.file, "r");
  if (in == nullptr) {
    report(args.file, std::strerror(errno));
    return -1;
  }
  if (writes_to_itself(in)) {
    report(args.file, "input file is also the output");
    std::fclose(in);
    return -1;
  }
  // Every read goes straight to the file, so nothing is read ahead of what
  // is asked for; the scan gathers its output into large writes itself.
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // The sample of the log that recognition reads: a regular file's is read
  // where it lies, and only when it is needed; a stream's first bytes are
  // read once, and the scan takes them first.
  log_sample sample;
  bool seekable = is_seekable_file(in);
  // The log begins where the stream stands.
  const uint64_t origin = seekable ? static_cast<uint64_t>(ftello(in)) : 0;
  const int64_t reference = reference_time(in, now);
  bool sampled = false;
  const compression *packed = nullptr;
  // A rotated set: its files found and ordered by their first lines, each
  // read, compressed or not, when its turn comes.
  std::vector<set_file> set;
  if (args.rotated && (standard_input || !seekable)) {
    say("stampcut: -r needs a file\n");
    std::fclose(in);
    return -1;
  }
  if (args.rotated && !list_rotated(args.file, &set)) {
    report(args.file, std::strerror(errno));
    std::fclose(in);
    return -1;
  }
  if (args.rotated) {
    // Each file's stamps are placed against its own last change.
    time_set(&args, &set, &sample);
  } else if (!seekable) {
    if (!read_head(in, &sample)) {
      report(args.file, std::strerror(errno));
      std::fclose(in);
      return -1;
    }
    sampled = true;
    packed = compression_of(reinterpret_cast<unsigned char *>(sample.head),
                            sample.parts[0].size);
  } else {
    unsigned char magic[magic_room];
    ssize_t n =
        pread(fileno(in), magic, sizeof magic, static_cast<off_t>(origin));
    packed = compression_of(magic, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  // A compressed log is read through its library, from its first byte on,
  // as a pipe is; its year rule still takes the file's last change.
  decompression unpacking;
  FILE *log = in;
  if (packed != nullptr && packed->decoder != nullptr) {
    log = open_decompressed(&unpacking, packed, in,
                            sampled ? sample.head : nullptr,
                            sampled ? sample.parts[0].size : 0);
    if (log == nullptr || !read_head(log, &sample)) {
      report(args.file, unpacking.failure[0] != '\0' ? unpacking.failure
                                                     : std::strerror(errno));
      if (log != nullptr)
        std::fclose(log);
      std::fclose(in);
      return -1;
    }
    seekable = false;
    sampled = true;
  }
  if (!args.rotated && args.how == cutting::lines &&
      args.source == format_source::none) {
    if (!sampled && !read_sample(in, origin, &sample)) {
      report(args.file, std::strerror(errno));
      std::fclose(in);
      return -1;
    }
    sampled = true;
    choose_format(&args, sample, reference);
  }
  const stamp_format *format = run_format(&args);
  if (format != nullptr)
    set_reference(&args.format, reference);
  // A bound in FORMAT may lack a year, and takes the reference's: the
  // bounds are read once it is set, and before anything is read but the
  // log's end, where a time of day as START looks for the last line.
  bound_context context = {format, now, -1};
  int64_t first_line;
  if (seekable && names_time_of_day(args.start_text)) {
    const timer lines_of = {args.how, format};
    if (!args.rotated)
      edge_times(in, origin, lines_of, &first_line, &context.last_line);
    // In a set, the last timed line is in the newest file that has one.
    for (std::size_t i = set.size(); i-- > 0 && context.last_line < 0;) {
      FILE *file = is_compressed(set[i]) ? nullptr
                                         : std::fopen(set[i].path.c_str(), "r");
      if (file == nullptr)
        continue;
      if (format != nullptr)
        set_reference(&args.format, set[i].changed);
      edge_times(file, 0, lines_of, &first_line, &context.last_line);
      std::fclose(file);
    }
    if (format != nullptr)
      set_reference(&args.format, reference);
  }
  if (!read_bounds(&args, context)) {
    close_log(log, in);
    return -1;
  }
  outcome o = {};
  o.said_before = note_mistakes(packed, &args);
  o.year_from_file = seekable;
  if (args.verbose)
    say_understood(&args, seekable);
  const timer how = {args.how, format};
  // With slack, a line of the interval may follow lines up to slack seconds
  // later than it: the search looks for the last line that far before
  // START, and the scan reads on as far past END.
  const uint64_t target =
      args.start.value > args.slack ? args.start.value - args.slack : 0;
  set_reader reader;
  search_result found = {0, 0, 0, 0};
  if (args.rotated) {
    // The first file that can hold the interval is searched as a lone
    // file is, unless compressed; the set is read on from there.
    std::size_t first = first_to_read(&set, target);
    if (args.verbose)
      for (const set_file &f : set)
        say("stampcut: -r: %s%s\n", f.path.c_str(),
            f.skipped ? ", skipped: no line of the interval" : "");
    if (!is_compressed(set[first])) {
      FILE *file = std::fopen(set[first].path.c_str(), "r");
      if (file != nullptr) {
        std::setvbuf(file, nullptr, _IONBF, 0);
        if (format != nullptr)
          set_reference(&args.format, set[first].changed);
        found = find_start(file, target, how);
        std::fclose(file);
      }
      if (file == nullptr || found.error != 0) {
        report(set[first].path.c_str(),
               std::strerror(file == nullptr ? errno : found.error));
        std::fclose(in);
        return -1;
      }
    }
    log = open_set(&reader, &set, first, found.start,
                   format != nullptr ? &args.format : nullptr);
    if (log == nullptr || !read_head(log, &sample)) {
      report(reader.failed.empty() ? args.file : reader.failed.c_str(),
             reader.failure[0] != '\0' ? reader.failure : std::strerror(errno));
      close_log(log != nullptr ? log : in, in);
      return -1;
    }
    seekable = false;
    sampled = true;
  } else {
    found = find_start(log, target, how);
  }
  if (found.error != 0) {
    report(args.file, std::strerror(found.error));
    close_log(log, in);
    return -1;
  }
  o.first = o.last = -1;
  const char *head = seekable ? nullptr : sample.head;
  scan_result r =
      scan_records(log, args.start.value, args.end.value, stdout, how, head,
                   seekable ? 0 : sample.parts[0].size, args.slack);
  // The decompression says why it failed better than the read that it
  // made fail.
  if (log != in && r.end == scan_end::failed && unpacking.failure[0] != '\0')
    std::snprintf(r.failure, sizeof r.failure, "%s", unpacking.failure);
  // In a set, the notes name the file they arise in.
  if (args.rotated) {
    if (r.end == scan_end::failed && !reader.failed.empty()) {
      o.name = reader.failed.c_str();
      std::snprintf(r.failure, sizeof r.failure, "%s", reader.failure);
    } else if (reader.current < set.size()) {
      o.name = set[reader.current].path.c_str();
      if (r.end_offset >= reader.file_begin)
        r.end_offset += reader.file_offset - reader.file_begin;
    }
  }
  if (r.written == 0 && r.status == 0) {
    if (args.rotated) {
      for (const set_file &f : set)
        if (o.first < 0 && f.first_time >= 0)
          o.first = f.first_time;
      edge_times(in, 0, how, &first_line, &o.last);
    } else if (seekable) {
      edge_times(in, origin, how, &o.first, &o.last);
    }
    // Where the ends hold no timed line within reach, the lines the scan
    // met are what is known.
    if (o.first < 0)
      o.first = r.first_time;
    if (o.last < 0)
      o.last = r.last_time;
  }
  if (wants_shape(&args, r)) {
    if (!sampled && seekable)
      sampled = read_sample(in, origin, &sample);
    o.shape_recognised =
        sampled && recognise(sample.parts, sample.count, reference).timed > 0;
  }
  close_log(log, in);
  note_outcome(&args, r, o);
  if (args.verbose)
    say_done(o.name != nullptr ? o.name : args.file, &args, found, r,
             sampled ? sample.bytes_read : 0);
  return r.status;
}
