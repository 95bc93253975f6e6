// The vector listing of line ends against its plain twin, on arbitrary
// bytes, from every offset of the first chunk.
#include "stampcut.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  for (bool cr : {false, true})
    for (std::size_t first = 0; first < 64 && first <= size; ++first)
      for (std::size_t from = first; from < size;) {
        uint32_t a[line_ends_room], b[line_ends_room];
        std::size_t listed_a, listed_b;
        std::size_t n = find_line_ends(text, from, size, cr, a, &listed_a);
        if (n != find_line_ends_plain(text, from, size, cr, b, &listed_b) ||
            listed_a != listed_b || listed_a <= from ||
            std::memcmp(a, b, n * sizeof *a) != 0)
          std::abort();
        from = listed_a;
      }
  return 0;
}
