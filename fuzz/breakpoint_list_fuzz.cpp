// Feeds arbitrary bytes to the "info break" reply scanner.
#include <cstdint>
#include <vector>

#include "text/point_lists.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  Breakpoint table[30] = {};
  uint32_t count = 0;
  size_t used = 0;
  scan_breakpoint_list(text.data(), text.size(), size % 2 == 0, table, &count, &used);
  if (count > 30 || used > size) __builtin_trap();
  for (int i = 0; i < 30 && table[i].enabled; i++)
    if (table[i].kind > breakpoint_virtual) __builtin_trap();
  return 0;
}
