// Feeds arbitrary bytes to the in-place text routines.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "text/reply_scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  std::vector<char> copy = text;
  uint32_t p = 0;
  char *token;
  while (next_token(text.data(), &p, &token) > 0) same_word(token, "call");
  p = 0;
  while (copy[p] != '\0') {
    uint32_t before = p;
    skip_field(copy.data(), &p);
    if (p == before) break;
  }
  char dest[128];
  copy_until(copy.data(), dest, ';');
  trim_trailing_space(dest);
  trim_trailing_space(copy.data());

  // scan_hex reads what sscanf's "%x" reads.
  unsigned int want = 0;
  int want_n = -1;
  int r = sscanf(text.data(), "%x%n", &want, &want_n);
  uint32_t got = 0;
  int got_n = -1;
  bool ok = scan_hex(text.data(), &got, &got_n);
  if (ok != (r == 1) || (ok && (got != want || got_n != want_n))) __builtin_trap();
  return 0;
}
