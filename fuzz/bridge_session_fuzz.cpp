// Feeds arbitrary bytes, as Bochs 2.7's standard output, to the bridge's
// session after one of VUM's commands, in pieces of arbitrary sizes. Links
// only the bridge's translation (vumbridgecore).
//
// Input: byte 0 picks the command, byte 1 the size of the pieces (its top
// bit: Bochs's log named a triple fault, and a SIGINT came); the rest is what
// Bochs writes after the command was sent.
#include <cstdint>
#include <string>
#include <string_view>

#include "session.hpp"

namespace {

const char *const kCommands[] = {
    "s",          "c",          "dump_cpu",          "info break",     "watch",
    "x /1hx 0x7C00", "x /2wx 0x7C00", "xp /17bx 0x7C00", "x /5gt 0x7C00", "x /9wo 0x7C00",
    "trace-on",   "pb 0x7c00",  "unwatch read 0x600", "unwatch write 0x500", "q",
    "",           "vb 8:7cc0",  "watch read 600",    "d 1",            "unwatch",
    "u /4 0x7c00", "u /64 0x401000", "set eax = 0x1",    "setpmem 0x500 4 0x1", "info tab",
    "pb 0x7c00;q", "trace-off",  "s 3",               "x /2wx 0x401000", "ldsym \"demo.sym\"",
};

// Every '<' VUM gets must open a prompt or a dump label.
void check_marks(const std::string &out) {
  for (size_t i = out.find('<'); i != std::string::npos; i = out.find('<', i + 1))
    if (out.compare(i + 1, 6, "bochs:") != 0 && out.compare(i + 1, 6, "bogus+") != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  bridge::Session s;
  // Bochs's table of watchpoints comes from its replies; give it some.
  s.from_emulator("<bochs:1> ");
  s.from_front("watch read 0x600\n");
  s.from_emulator("watch read 0x600\nread watchpoint at 0x000000000600 len=1 inserted\n<bochs:2> ");
  s.from_front("watch write 0x600\n");
  s.from_emulator("watch write 0x600\nwrite watchpoint at 0x000000000600 len=1 inserted\n<bochs:3> ");
  s.to_front().clear();
  s.to_emulator().clear();

  const char *command = kCommands[data[0] % (sizeof kCommands / sizeof kCommands[0])];
  size_t piece = 1 + data[1] % 64;
  s.from_front(std::string(command) + "\n");
  if (data[1] & 0x80) {
    s.from_emulator_log("00012936054e[CPU0  ] exception(): 3rd (13) exception with no resolution");
    s.interrupt();
  }
  std::string_view rest(reinterpret_cast<const char *>(data) + 2, size - 2);
  unsigned prompts_out = 0;
  while (!rest.empty()) {
    size_t n = rest.size() < piece ? rest.size() : piece;
    s.from_emulator(rest.substr(0, n));
    rest.remove_prefix(n);
    check_marks(s.to_front());
    for (size_t i = s.to_front().find("<bochs:"); i != std::string::npos; i = s.to_front().find("<bochs:", i + 1))
      prompts_out++;
    s.to_front().clear();
    s.to_emulator().clear();
  }
  // One prompt for the one command, at most.
  if (prompts_out > 1) __builtin_trap();
  return 0;
}
