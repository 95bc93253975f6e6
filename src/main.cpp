// Entry point: reads the command line, opens the log, lets the search
// position it and the scan write the interval.
#include "stampcut.h"

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

// The time a reading without a year is placed against: the file's last
// change, which a log's last line is written shortly before; for anything
// else, now.
int64_t reference_time(FILE *in, int64_t now) {
  struct stat st;
  if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode))
    return static_cast<int64_t>(st.st_mtime);
  return now;
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
  const stamp_format *format = nullptr;
  if (args.format_text != nullptr) {
    set_reference(&args.format, reference_time(in, now));
    format = &args.format;
  }
  // A bound in FORMAT may lack a year, and takes the reference's: the
  // bounds are read once it is set, and before anything is read.
  if (!read_bounds(&args, now)) {
    std::fclose(in);
    return -1;
  }
  note_mistakes(in, &args);
  // Every read goes straight to the file, so nothing is read ahead of what
  // is asked for; the scan gathers its output into large writes itself.
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // With slack, a line of the interval may follow lines up to slack seconds
  // later than it: the search looks for the last line that far before
  // START, and the scan reads on as far past END.
  const uint64_t target =
      args.start.value > args.slack ? args.start.value - args.slack : 0;
  int error;
  find_start(in, target, &error, args.how, format);
  if (error != 0) {
    report(args.file, std::strerror(error));
    std::fclose(in);
    return -1;
  }
  return scan_records(in, args.file, args.start.value, args.end.value, stdout,
                      args.how, format, args.slack);
}
