#include "timing.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using lister = std::size_t (*)(const char *, std::size_t, std::size_t, bool,
                               uint32_t *, std::size_t *);

// Every end that calls of find from from to to list, checking that each
// call goes on from where the last stopped and fills the list as promised.
std::vector<uint32_t> list_all(lister find, const std::string &text,
                               std::size_t from, std::size_t to, bool cr) {
  std::vector<uint32_t> all;
  while (from < to) {
    uint32_t ends[line_ends_room];
    std::size_t listed;
    std::size_t n = find(text.data(), from, to, cr, ends, &listed);
    if (n > line_ends_room ||
        (listed != to && (listed <= from || n + 64 <= line_ends_room))) {
      ADD_FAILURE() << "stopped at " << listed << " of " << from << " to " << to
                    << " with " << n << " listed";
      break;
    }
    all.insert(all.end(), ends, ends + n);
    from = listed;
  }
  return all;
}

TEST(LineEnds, VectorAndPlainListEveryEndOfAnyStretch) {
  std::mt19937 random(24);
  // Bytes that differ from LF or CR in one bit, or in the high bit only,
  // among the ends themselves.
  const std::string near = "\n\r\n\r\x0b\x0c\x8a\x8d\x1a\x0e\x2a\x4d";
  for (int density : {0, 2, 12, 100}) {
    std::string text(900, 'x');
    for (char &c : text)
      if (density != 0 && static_cast<int>(random() % 100) < density)
        c = near[random() % near.size()];
    if (density == 100) // more ends than the list holds, 63 a chunk
      for (std::size_t i = 0; i < 400; ++i)
        text[i] = i % 64 == 0 ? 'x' : '\n';
    for (bool cr : {false, true})
      for (std::size_t from = 0; from < 64; ++from)
        for (std::size_t to = from; to <= text.size(); to += 1 + to / 64) {
          std::vector<uint32_t> want;
          for (std::size_t i = from; i < to; ++i)
            if (text[i] == '\n' || (cr && text[i] == '\r'))
              want.push_back(static_cast<uint32_t>(i));
          ASSERT_EQ(list_all(find_line_ends, text, from, to, cr), want)
              << density << " " << from << " " << to << " " << cr;
          ASSERT_EQ(list_all(find_line_ends_plain, text, from, to, cr), want);
        }
  }
  // A record's first digit, found 16 bytes at a time, among bytes that
  // differ from a digit's range by one or in the high bit.
  const std::string digits = "09/:\xb0\xb9\x10\x19";
  for (int density : {0, 1, 10}) {
    std::string text(300, '\0');
    for (char &c : text)
      if (static_cast<int>(random() % 100) < density)
        c = digits[random() % digits.size()];
    for (std::size_t from = 0; from < 40; ++from)
      for (std::size_t to = from; to <= text.size(); ++to)
        ASSERT_EQ(find_record_digit(&text[0] + from, &text[0] + to),
                  find_digit(&text[0] + from, &text[0] + to))
            << density << " " << from << " " << to;
  }
}

} // namespace
