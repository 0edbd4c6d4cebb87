// Feeds arbitrary bytes, as a symbol file, to the scanner of its two text
// forms, then looks names up in what it gave.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "text/symbols.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<Symbol> symbols;
  SymbolLoad load = scan_symbol_text(reinterpret_cast<const char *>(data), size, 0x1000, &symbols);
  if (!load.ok && load.error.empty()) __builtin_trap();
  if (load.ok && load.loaded != symbols.size()) __builtin_trap();
  for (const Symbol &s : symbols) {
    if (s.name.empty() || s.name.size() > 255) __builtin_trap();
    for (char c : s.name)
      if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7f) __builtin_trap();
  }
  return 0;
}
