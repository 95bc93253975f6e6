// A stream over bytes that a test makes up, which counts what is read.
#ifndef STAMPCUT_TESTS_VIRTUAL_FILE_H
#define STAMPCUT_TESTS_VIRTUAL_FILE_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct virtual_file {
  uint64_t size = 0;
  // Fills buf with the n bytes at offset (all within size).
  std::function<void(uint64_t offset, char *buf, std::size_t n)> content;
  bool seekable = true;
  uint64_t pos = 0;
  uint64_t bytes_read = 0;
  std::vector<uint64_t> reads; // where each run of reads began
  uint64_t next_read = UINT64_MAX;
  uint64_t fail_at = UINT64_MAX; // reads of this byte or later fail (EIO)
};

virtual_file file_of(const std::string &bytes);

// An unbuffered read stream over f, which must outlive it.
FILE *open_virtual(virtual_file *f);

#endif
