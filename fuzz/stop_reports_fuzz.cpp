// Feeds arbitrary bytes, as a reply stream, to the stop-line and
// instruction-line scanners in every mode.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "exec/stop_reports.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> bytes(data, data + size);

  // The stream as the watch handler reads it: stop lines until the end.
  FILE *f = fmemopen(bytes.data(), bytes.size(), "r");
  if (f == NULL) return 0;
  StopLocation at;
  memset(&at, 0, sizeof at);
  for (int i = 0; i < 64; i++) {
    StopLine stop;
    scan_stop_line(f, &stop);
    if (stop.kind == stop_line_missing) break;
    if (stop.kind == stop_line_prompt) getc(f);  // step over the '<'
    scan_instruction_line(stop.line, &at, 1);
    scan_instruction_line(stop.line, &at, 0);
  }
  fclose(f);

  // The same bytes as a current-instruction report.
  f = fmemopen(bytes.data(), bytes.size(), "r");
  if (f == NULL) return 0;
  int lost;
  scan_current_instruction(f, &at, &lost);
  fclose(f);
  if (strlen(at.text) > 127 || strlen(at.bytes) > 127) __builtin_trap();
  return 0;
}
