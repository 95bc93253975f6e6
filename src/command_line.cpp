// Command line: the run's arguments.
#include "stampcut.h"

#include <cstdlib>

bool read_command_line(int argc, char **argv, run_args *args) {
  if (argc < 3)
    return false;
  args->file = argv[1];
  args->start_text = argv[2];
  args->end_text = argc > 3 ? argv[3] : nullptr;
  args->start = std::strtoull(args->start_text, nullptr, 0);
  args->end =
      args->end_text != nullptr ? std::strtoull(args->end_text, nullptr, 0) : 0;
  return true;
}

void write_usage() {
  std::fputs("Syntax: stampcut [file] [start unix ts] [end unix ts]. "
             "minimum 2 arguments. \n",
             stdout);
}
