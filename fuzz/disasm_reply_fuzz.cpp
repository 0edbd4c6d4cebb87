// Feeds arbitrary bytes, as the text of a disassembly reply, to its scanner
// and to the rule that finds the instructions before an address.
#include <cstdint>
#include <cstring>
#include <string>

#include "text/disasm_scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  DisasmReply reply;
  scan_disasm_reply(text, &reply);
  if (reply.lines.size() > size) __builtin_trap();
  for (const DisasmLine &l : reply.lines) {
    if (strlen(l.text) >= sizeof l.text || strlen(l.bytes) != 2 * l.length || l.length == 0 || l.length > 15)
      __builtin_trap();
  }
  if (strlen(reply.error_text) >= sizeof reply.error_text) __builtin_trap();
  // The same reply for every start of a scan: it ends, and what it gives
  // comes from the reply.
  uint32_t target = reply.lines.empty() ? 0x7c00 : reply.lines.back().address;
  BackScan scan(target, 0);
  uint32_t start;
  int asked = 0;
  while (scan.next_start(&start)) {
    scan.take(start, reply);
    if (++asked > back_scan_tries) __builtin_trap();
  }
  if (scan.lines_before().size() > lines_before_shown) __builtin_trap();
  for (const DisasmLine &l : scan.lines_before())
    if (l.address >= target) __builtin_trap();
  return 0;
}
