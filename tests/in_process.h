// Runs stampcut's search and scan in this process, as its entry point does,
// with the output gathered in a string. Shared by tests and fuzz targets.
#ifndef STAMPCUT_TESTS_IN_PROCESS_H
#define STAMPCUT_TESTS_IN_PROCESS_H

#include "stampcut.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// The run's status (-1 when the file cannot be opened); *out gets what the
// scan writes. The search runs first when search is set.
inline int run_in_process(const std::string &path, bool search, uint64_t start,
                          uint64_t end, std::string *out,
                          cutting how = cutting::records,
                          const stamp_format *format = nullptr) {
  FILE *in = std::fopen(path.c_str(), "r");
  if (in == nullptr)
    return -1;
  std::setvbuf(in, nullptr, _IONBF, 0);
  int error = 0;
  if (search)
    find_start(in, start, &error, how, format);
  if (error != 0) {
    std::fclose(in);
    return -1;
  }
  char *data = nullptr;
  std::size_t size = 0;
  FILE *sink = open_memstream(&data, &size);
  int status = scan_records(in, path.c_str(), start, end, sink, how, format);
  std::fclose(sink);
  out->assign(data, size);
  std::free(data);
  return status;
}

#endif
