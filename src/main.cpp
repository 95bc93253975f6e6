// Entry point: reads the command line, opens the log, lets the search
// position it and the scan write the interval.
#include "stampcut.h"

#include <cstdio>
#include <cstring>
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

} // namespace

int main(int argc, char **argv) {
  run_args args;
  if (!read_command_line(argc, argv, &args)) {
    write_usage();
    return -1;
  }
  FILE *in = std::fopen(args.file, "r");
  if (in == nullptr)
    return -1;
  if (writes_to_itself(in)) {
    report(args.file, "input file is also the output");
    std::fclose(in);
    return -1;
  }
  note_mistakes(in, &args);
  // Every read goes straight to the file, so nothing is read ahead of what
  // is asked for; the scan gathers its output into large writes itself.
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  int error;
  find_start(in, args.start, &error, args.how);
  if (error != 0) {
    report(args.file, std::strerror(error));
    std::fclose(in);
    return -1;
  }
  return scan_records(in, args.file, args.start, args.end, stdout, args.how);
}
