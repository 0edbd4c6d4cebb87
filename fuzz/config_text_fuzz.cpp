// Feeds arbitrary bytes, as the text of a configuration file, to the scanner
// of its blocks, and as a number to the "%u" reader (compared with sscanf)
// and to the entries' atoi reading.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text/reply_scan.hpp"
#include "text/config_text.hpp"

static void check_defs(const StructDefList &defs) {
  const StructDef *previous = nullptr;
  for (const StructDef *d = defs.first; d; previous = d, d = d->next) {
    if (d->prev != previous || d->window != nullptr) __builtin_trap();
    if (strnlen(d->name, 128) == 0 || strnlen(d->name, 128) > 127) __builtin_trap();
    uint32_t count = 0;
    const StructField *pf = nullptr;
    for (const StructField *f = d->first_field; f; pf = f, f = f->next, count++) {
      if (f->prev != pf) __builtin_trap();
      if (strnlen(f->name, 128) == 0 || strnlen(f->name, 128) > 127) __builtin_trap();
    }
    if (d->last_field != pf || d->field_count != count) __builtin_trap();
  }
  if (defs.last != previous) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');

  std::vector<char> file = text;
  ConfigScan scan;
  StructDefList defs = {nullptr, nullptr};
  scan_config(file.data(), &scan, &defs);
  // Every error names a line of the file and says what was expected.
  size_t lines = 1;
  for (size_t i = 0; i + 1 < text.size() && text[i] != '\0'; i++) lines += text[i] == '\n';
  for (const ConfigError &e : scan.errors)
    if (e.line < 1 || e.line > lines || e.message.empty()) __builtin_trap();
  if (scan.errors.size() > size) __builtin_trap();
  if (scan.settings.tabs_set && scan.settings.tabs >= tab_position_count) __builtin_trap();
  check_defs(defs);
  free_struct_defs(&defs);

  // scan_unsigned reads what sscanf's "%u" reads.
  unsigned int want = 0;
  int want_n = -1;
  int r = sscanf(text.data(), "%u%n", &want, &want_n);
  uint32_t got = 0;
  int got_n = -1;
  bool ok = scan_unsigned(text.data(), &got, &got_n);
  if (ok != (r == 1) || (ok && (got != want || got_n != want_n))) __builtin_trap();

  // entry_number reads what atoi reads, wherever atoi is defined.
  int64_t n = entry_number(text.data());
  long long reference = strtoll(text.data(), nullptr, 10);
  if (reference > -1000000000 && reference < 1000000000 && n != reference) __builtin_trap();
  return 0;
}
