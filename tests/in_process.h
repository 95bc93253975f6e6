// Runs stampcut's search and scan in this process, as its entry point does,
// with the output gathered in a string. Shared by tests and fuzz targets.
#ifndef STAMPCUT_TESTS_IN_PROCESS_H
#define STAMPCUT_TESTS_IN_PROCESS_H

#include "timing.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The search as the tests call it: where it starts, where the stream is
// left; *error gets its error.
inline uint64_t search_from(FILE *stream, uint64_t target, int *error,
                            cutting how = cutting::records,
                            const stamp_format *format = nullptr) {
  input in;
  if (!open_input(&in, stream)) {
    *error = errno;
    return 0;
  }
  search_result r = find_start(&in, target, timer{how, format});
  *error = r.error;
  if (r.error == 0 && in.read_at != nullptr &&
      fseeko(stream, static_cast<off_t>(r.start), SEEK_SET) != 0)
    *error = errno;
  return r.start;
}

// The scan as the tests call it: its status, with a failure of the input
// said as the entry point says it. Closes in.
inline int scan_from(FILE *stream, const char *name, uint64_t start,
                     uint64_t end, FILE *out, cutting how = cutting::records,
                     const stamp_format *format = nullptr) {
  input in;
  if (!open_input(&in, stream)) {
    report(name, std::strerror(errno));
    std::fclose(stream);
    return -1;
  }
  scan_result r = scan_records(&in, start, end, out, timer{how, format});
  if (r.failure[0] != '\0')
    report(name, r.failure);
  std::fclose(stream);
  return r.status;
}

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
    search_from(in, start, &error, how, format);
  if (error != 0) {
    std::fclose(in);
    return -1;
  }
  char *data = nullptr;
  std::size_t size = 0;
  FILE *sink = open_memstream(&data, &size);
  int status = scan_from(in, path.c_str(), start, end, sink, how, format);
  std::fclose(sink);
  out->assign(data, size);
  std::free(data);
  return status;
}

#endif
