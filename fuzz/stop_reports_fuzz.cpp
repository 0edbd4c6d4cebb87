// Feeds arbitrary bytes, as a reply stream, to the reply reader and the
// stop-line and instruction-line scanners in every mode.
#include <cstdint>
#include <cstring>
#include <string>

#include "exec/stop_scan.hpp"
#include "reader_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The stream as the watch handler reads it: stop lines until the end.
  ReplyReader reader;
  read_from(reader, data, size);
  StopLocation at;
  memset(&at, 0, sizeof at);
  for (int i = 0; i < 64; i++) {
    StopLine stop;
    scan_stop_line(reader, &stop);
    if (stop.kind == stop_line_missing) break;
    if (stop.kind == stop_line_prompt) reader.get();  // step over the '<'
    scan_instruction_line(stop.line, &at, true);
    scan_instruction_line(stop.line, &at, false);
  }

  // The same bytes as a current-instruction report, then as a whole reply.
  read_from(reader, data, size);
  bool lost;
  scan_current_instruction(reader, &at, &lost);
  if (strlen(at.text) > 127 || strlen(at.bytes) > 127) __builtin_trap();
  read_from(reader, data, size);
  std::string text;
  reader.read_until_prompt(&text, 64, 4096);
  if (text.size() > 4096) __builtin_trap();
  uint32_t number = 0;
  skip_to_prompt(reader, &number);
  return 0;
}
