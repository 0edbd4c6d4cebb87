// Feeds arbitrary bytes to what a stop is read with: the run reader's lines
// (each classified and scanned as a trace line and as a current-instruction
// line), and the whole text as a report with and without a stop line.
#include <cstdint>
#include <cstring>
#include <string>

#include "reader_input.hpp"
#include "text/stop_scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The stream as the run reader reads it: lines until the end.
  ReplyReader reader;
  read_from(reader, data, size);
  StopLocation at;
  memset(&at, 0, sizeof at);
  for (int i = 0; i < 64; i++) {
    StopLine stop;
    memset(&stop, 0, sizeof stop);
    if (!reader.read_line(stop.line, reply_line_size, true)) break;
    classify_stop_line(&stop);
    classify_notice(stop.line);
    if (stop.kind == stop_line_prompt) reader.get();  // step over the '<'
    scan_instruction_line(stop.line, &at, true);
    scan_instruction_line(stop.line, &at, false);
  }
  // The same bytes as a reply's text: a step's, and a run's report.
  std::string text(reinterpret_cast<const char *>(data), size);
  for (bool with_stop_line : {false, true}) {
    StopReport report;
    scan_stop_report(text, with_stop_line, at, &report);
    if (strlen(report.location.text) > 127 || strlen(report.location.bytes) > 127) __builtin_trap();
    if (strlen(report.stop.line) >= (size_t)reply_line_size) __builtin_trap();
    char physical[12], location[24];
    format_stop_location(report.location, physical, location);
    if (strlen(physical) >= sizeof physical || strlen(location) >= sizeof location) __builtin_trap();
    if (report.notices.size() > size) __builtin_trap();
  }
  return 0;
}
