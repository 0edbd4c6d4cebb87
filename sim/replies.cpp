#include "replies.hpp"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "decoder.hpp"
#include "disasm.hpp"

namespace sim {
namespace reply {
namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return std::string();
  if (size_t(n) < sizeof buf) return std::string(buf, size_t(n));
  std::string big(size_t(n) + 1, '\0');
  va_start(ap, fmt);
  vsnprintf(&big[0], big.size(), fmt, ap);
  va_end(ap);
  big.resize(size_t(n));
  return big;
}

// The width the instruction text is padded to before the "; bytes" part.
constexpr int kTextColumn = 24;

}  // namespace

std::string printable(const std::string &text, size_t max) {
  std::string out;
  for (unsigned char ch : text) {
    if (out.size() == max) {
      out += "...";
      break;
    }
    out += (ch >= 0x20 && ch < 0x7f && ch != '<') ? char(ch) : '?';
  }
  return out;
}

std::string prompt(unsigned n) { return format("<bochs:%u> ", n); }

std::string next_at(uint64_t ticks) { return format("Next at t=%" PRIu64 "\n", ticks); }

std::string instruction_line(const Machine &m) {
  const Cpu &c = m.cpu;
  Insn in = decode_at(m);
  // Only a page that is not present leaves the instruction incomplete here.
  std::string text = in.incomplete ? "(page not present)" : disassemble(in);
  // The physical address of CS:EIP; with paging, on a page that is not
  // present, its linear address.
  uint32_t physical;
  if (!translate(m, c.linear_ip(), &physical)) physical = c.linear_ip();
  return format(c.code32() ? "(0) [0x%08x] %04x:%08x (unk. ctxt): %-*s ; %s\n"
                           : "(0) [0x%08x] %04x:%04x (unk. ctxt): %-*s ; %s\n",
                physical, c.seg[CS].selector, c.eip, kTextColumn, text.c_str(), hex_bytes(in).c_str());
}

std::string location(const Machine &m) { return next_at(m.ticks) + instruction_line(m); }

std::string magic_breakpoint() { return "(0) Magic breakpoint\n"; }
std::string triple_fault_reset() { return "(0) Reset after a triple fault\n"; }
std::string guest_output_dropped(uint64_t bytes) {
  return format("(0) Guest output: %" PRIu64 " byte%s dropped, standard output is full\n", bytes,
                bytes == 1 ? "" : "s");
}

std::string disassembly_line(uint32_t linear, const Insn &in) {
  return format("%08x: (%-20s): %-*s ; %s\n", linear, "", kTextColumn, disassemble(in).c_str(),
                hex_bytes(in).c_str());
}

std::string breakpoint_stop(unsigned number, uint32_t address) {
  return format("(0) Breakpoint %u, 0x%x in ?? ()\n", number, address);
}

std::string watch_stop(bool write, uint32_t address) {
  return format("(0) Caught %s watch point at 0x%08x\n", write ? "write" : "read", address);
}

std::string breakpoint_list(const std::vector<Breakpoint> &points) {
  std::string s = "Num Type           Disp Enb Address\n";
  for (const Breakpoint &b : points) {
    switch (b.kind) {
      case BreakKind::Physical: s += format("%3u pbreakpoint    keep y   0x%08x\n", b.number, b.offset); break;
      case BreakKind::Linear: s += format("%3u lbreakpoint    keep y   0x%08x\n", b.number, b.offset); break;
      case BreakKind::Virtual:
        s += format("%3u vbreakpoint    keep y   0x%04x:0x%08x\n", b.number, b.segment, b.offset);
        break;
    }
  }
  return s;
}

std::string watch_list(const std::vector<Watchpoint> &points, const Memory &mem) {
  std::string s;
  for (const Watchpoint &w : points) {
    const char *kind = w.write ? "write" : "read";
    if (w.address % 4 == 0)
      s += format("%s 0x%08x (%08x)\n", kind, w.address, mem.read(w.address, 4));
    else
      s += format("%s 0x%08x (%04x)\n", kind, w.address, mem.read(w.address, 2));
  }
  return s;
}

std::string dump_cpu(const Cpu &c) {
  std::string s;
  static const char *const gp[8] = {"eax", "ebx", "ecx", "edx", "ebp", "esi", "edi", "esp"};
  static const int gp_index[8] = {EAX, EBX, ECX, EDX, EBP, ESI, EDI, ESP};
  for (int i = 0; i < 8; ++i) s += format("%s:0x%08x\n", gp[i], c.regs[gp_index[i]]);
  s += format("eflags:0x%08x\n", c.eflags);
  s += format("eip:0x%08x\n", c.eip);
  static const char *const segs[8] = {"cs", "ss", "ds", "es", "fs", "gs", "ldtr", "tr"};
  static const int seg_index[8] = {CS, SS, DS, ES, FS, GS, LDTR, TR};
  for (int i = 0; i < 8; ++i) {
    const Segment &g = c.seg[seg_index[i]];
    s += format("%s:s=0x%04x, dl=0x%08x, dh=0x%08x, valid=%u\n", segs[i], g.selector, g.dl(), g.dh(),
                g.valid ? 1u : 0u);
  }
  s += format("gdtr:base=0x%08x, limit=0x%x\n", c.gdtr_base, c.gdtr_limit);
  s += format("idtr:base=0x%08x, limit=0x%x\n", c.idtr_base, c.idtr_limit);
  for (int i : {0, 1, 2, 3, 6, 7}) s += format("dr%d:0x%08x\n", i, c.dr[i]);
  for (int i = 3; i <= 7; ++i) s += format("tr%d:0x%08x\n", i, c.tr[i]);
  for (int i = 0; i <= 4; ++i) s += format("cr%d:0x%08x\n", i, c.cr[i]);
  s += "inhibit_mask:0\n";
  s += "done\n";
  return s;
}

namespace {

unsigned unit_size(char unit) { return unit == 'b' ? 1 : unit == 'h' ? 2 : unit == 'w' ? 4 : 8; }

std::string value_text(uint64_t v, unsigned size, char fmt) {
  const unsigned bits = size * 8;
  switch (fmt) {
    case 'x': return format("0x%0*" PRIx64, int(size * 2), v);
    case 'd': {
      int64_t sv = bits == 64 ? int64_t(v) : int64_t(v << (64 - bits)) >> (64 - bits);
      return format("%" PRId64, sv);
    }
    case 'u': return format("%" PRIu64, v);
    case 't': {
      std::string s;
      for (int i = int(bits) - 1; i >= 0; --i) s += ((v >> i) & 1) ? '1' : '0';
      return s;
    }
    case 'o': return format("0%" PRIo64, v);
  }
  return std::string();
}

template <typename ReadByte>
std::string examine_with(ReadByte read8, uint32_t address, unsigned count, char unit, char fmt) {
  const unsigned size = unit_size(unit);
  const unsigned per_line = size == 1 || size == 2 ? 8 : size == 4 ? 4 : 2;
  std::string s;
  for (unsigned i = 0; i < count; ++i) {
    uint32_t offset = i * size;
    uint32_t at = address + offset;
    if (i % per_line == 0) {
      if (i) s += '\n';
      s += format("0x%08x <bogus+%u>:", at, offset);
    }
    uint64_t v = 0;
    for (unsigned k = 0; k < size; ++k) v |= uint64_t(read8(offset + k)) << (8 * k);
    s += '\t';
    s += value_text(v, size, fmt);
  }
  if (count) s += '\n';
  return s;
}

}  // namespace

std::string examine(const Memory &mem, uint32_t address, unsigned count, char unit, char fmt) {
  return examine_with([&](uint32_t offset) { return mem.read8(address + offset); }, address, count, unit, fmt);
}

std::string examine_bytes(const uint8_t *bytes, uint32_t address, unsigned count, char unit, char fmt) {
  return examine_with([&](uint32_t offset) { return bytes[offset]; }, address, count, unit, fmt);
}

std::string tracing(bool on) { return on ? "Tracing enabled for CPU 0\n" : "Tracing disabled for CPU 0\n"; }

std::string help() {
  return "Commands:\n"
         "  s [N]                 step N instructions (default 1, at most 100000000)\n"
         "  c                     continue until a breakpoint, a watchpoint or SIGINT\n"
         "  pb ADDR, lb ADDR      physical / linear breakpoint (hex address)\n"
         "  vb SEG:OFF            virtual breakpoint\n"
         "  d N                   delete breakpoint N\n"
         "  info break            list breakpoints\n"
         "  watch                 list watchpoints\n"
         "  watch read ADDR       stop after a read of ADDR (physical)\n"
         "  watch write ADDR      stop after a write to ADDR (physical)\n"
         "  unwatch               delete all watchpoints\n"
         "  unwatch read ADDR     delete one watchpoint (also: unwatch write ADDR)\n"
         "  trace-on, trace-off   show every instruction executed by c\n"
         "  dump_cpu              all registers\n"
         "  x /NUF ADDR           examine linear memory: N units, U in bhwg, F in xduto\n"
         "  xp /NUF ADDR          examine physical memory\n"
         "  u /N ADDR             disassemble N instructions (1 to 64) at a linear address\n"
         "  set REG = VALUE       set eax ebx ecx edx esi edi ebp esp eip or eflags\n"
         "  setpmem ADDR SIZE VALUE  write SIZE (1, 2 or 4) bytes of physical memory\n"
         "  help                  this list\n"
         "  q                     quit\n";
}

std::string banner() { return "vum-sim: simulated PC; the debugger talks on standard error\n"; }

std::string failed_start(const std::string &text) {
  std::string s;
  size_t pos = 0;
  do {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    s += printable(text.substr(pos, nl - pos), 1000) + "\n";
    pos = nl + 1;
  } while (pos < text.size());
  return s;
}

std::string cannot_read(const char *what) { return std::string("vum-sim: cannot read the ") + what + "\n"; }

std::string startup(const std::string &image, const std::vector<std::string> &notes) {
  std::string s =
      "========================================================================\n"
      "                 vum-sim: the simulated PC of VUM\n"
      "========================================================================\n"
      "Memory: 16 MiB. Processor: x86 subset, one CPU.\n";
  s += "Boot image at 0x7c00: " + (image.empty() ? std::string("built-in demo") : printable(image, 200)) + "\n";
  for (const std::string &n : notes) s += printable(n, 200) + "\n";
  return s;
}

std::string unknown_command(const std::string &word) {
  return "Error: unknown command '" + printable(word) + "' (try help)\n";
}
std::string usage(const char *form) { return std::string("Error: usage: ") + form + "\n"; }
std::string bad_number(const std::string &text) { return "Error: not a valid number: '" + printable(text) + "'\n"; }
std::string no_breakpoint(const std::string &number) {
  return "Error: no breakpoint numbered " + printable(number) + "\n";
}
std::string too_many_breakpoints() { return "Error: too many breakpoints\n"; }
std::string no_watchpoint(bool write, uint32_t address) {
  return format("Error: no %s watchpoint at 0x%08x\n", write ? "write" : "read", address);
}
std::string too_many_watchpoints() { return "Error: too many watchpoints\n"; }
std::string no_segment(uint16_t selector) {
  return format("Error: selector 0x%04x is not in the descriptor table\n", selector);
}
std::string past_end_of_memory(uint32_t address, uint64_t bytes) {
  return format("Error: read past the end of memory (0x%08x): %" PRIu64 " byte%s at 0x%08x\n", kMemorySize, bytes,
                bytes == 1 ? "" : "s", address);
}
std::string page_not_present(uint32_t linear) {
  return format("Error: reading linear 0x%08x: page not present\n", linear);
}
std::string read_past_end_of_memory(uint32_t linear) {
  return format("Error: reading linear 0x%08x: past the end of memory\n", linear);
}
std::string line_too_long() { return "Error: command line too long\n"; }
std::string not_a_register(const std::string &name) { return "Error: not a register: '" + printable(name) + "'\n"; }
std::string bad_size(const std::string &text) { return "Error: size must be 1, 2 or 4: '" + printable(text) + "'\n"; }
std::string value_too_wide(uint32_t value, unsigned size) {
  return format("Error: value 0x%x does not fit in %u byte%s\n", value, size, size == 1 ? "" : "s");
}
std::string write_past_end_of_memory(uint32_t address, unsigned bytes) {
  return format("Error: write past the end of memory (0x%08x): %u byte%s at 0x%08x\n", kMemorySize, bytes,
                bytes == 1 ? "" : "s", address);
}

}  // namespace reply
}  // namespace sim
