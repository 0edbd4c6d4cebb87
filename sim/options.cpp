#include "options.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text.hpp"

namespace sim {
namespace {

bool switched_on(const char *value) { return *value && strcmp(value, "0") != 0; }

void set_count(const char *name, const char *value, uint64_t max, uint64_t *target, Options *o) {
  uint64_t v;
  if (parse_decimal(value, max, &v))
    *target = v;
  else
    o->notes.push_back(std::string("Ignored ") + name + ": not a count");
}

}  // namespace

Options parse_options(int argc, char **argv, const char *(*env)(const char *)) {
  Options o;
  uint64_t v;
  if (const char *s = env("VUM_SIM_TRANSCRIPT")) o.transcript = s;
  if (const char *s = env("VUM_SIM_STATE")) o.state = s;
  if (const char *s = env("VUM_SIM_IMAGE")) o.image = s;
  if (const char *s = env("VUM_SIM_GUEST")) o.guest = s;
  if (const char *s = env("VUM_SIM_MAGIC_BREAK")) o.magic_break = switched_on(s);
  if (const char *s = env("VUM_SIM_RESET_ON_TRIPLE_FAULT")) o.reset_on_triple_fault = switched_on(s);
  if (const char *s = env("VUM_SIM_FAIL_START")) {
    o.fail_start = *s != '\0';
    o.fail_text = s;
  }
  if (const char *s = env("VUM_SIM_EXIT_BEFORE_PROMPT")) o.exit_before_prompt = switched_on(s);
  if (const char *s = env("VUM_SIM_EXIT_AFTER")) set_count("VUM_SIM_EXIT_AFTER", s, UINT64_MAX / 16, &o.exit_after, &o);
  if (const char *s = env("VUM_SIM_EXIT_MID_REPLY"))
    set_count("VUM_SIM_EXIT_MID_REPLY", s, UINT64_MAX / 16, &o.exit_mid_reply, &o);
  if (const char *s = env("VUM_SIM_SILENT_AFTER"))
    set_count("VUM_SIM_SILENT_AFTER", s, UINT64_MAX / 16, &o.silent_after, &o);
  if (const char *s = env("VUM_SIM_SILENT_MID_REPLY"))
    set_count("VUM_SIM_SILENT_MID_REPLY", s, UINT64_MAX / 16, &o.silent_mid_reply, &o);
  if (const char *s = env("VUM_SIM_CLOSE_REPLIES_AFTER"))
    set_count("VUM_SIM_CLOSE_REPLIES_AFTER", s, UINT64_MAX / 16, &o.close_replies_after, &o);
  if (const char *s = env("VUM_SIM_IGNORE_SIGINT")) o.ignore_sigint = switched_on(s);
  if (const char *s = env("VUM_SIM_IGNORE_QUIT")) o.ignore_quit = switched_on(s);
  if (const char *s = env("VUM_SIM_IGNORE_SIGTERM")) o.ignore_sigterm = switched_on(s);
  if (const char *s = env("VUM_SIM_DELAY_MS")) {
    v = 0;
    set_count("VUM_SIM_DELAY_MS", s, 600000, &v, &o);
    o.delay_ms = unsigned(v);
  }
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
    auto value = [&](const char *name) -> const char * {
      if (!next) {
        o.notes.push_back(std::string("Ignored ") + name + ": no value");
        return nullptr;
      }
      ++i;
      return next;
    };
    if (a == "-q") {
      // quiet start: accepted, nothing to quieten
    } else if (a == "-f") {
      // Bochs's configuration file, as VUM names it: the simulated PC has
      // none to read, and says so.
      if (const char *s = value("-f")) o.notes.push_back(std::string("No configuration file is read: ") + s);
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--transcript") {
      if (const char *s = value("--transcript")) o.transcript = s;
    } else if (a == "--state") {
      if (const char *s = value("--state")) o.state = s;
    } else if (a == "--image") {
      if (const char *s = value("--image")) o.image = s;
    } else if (a == "--guest") {
      if (const char *s = value("--guest")) o.guest = s;
    } else if (a == "--magic-break") {
      o.magic_break = true;
    } else if (a == "--reset-on-triple-fault") {
      o.reset_on_triple_fault = true;
    } else if (a == "--fail-start") {
      if (const char *s = value("--fail-start")) {
        o.fail_start = true;
        o.fail_text = s;
      }
    } else if (a == "--exit-before-prompt") {
      o.exit_before_prompt = true;
    } else if (a == "--exit-after") {
      if (const char *s = value("--exit-after")) set_count("--exit-after", s, UINT64_MAX / 16, &o.exit_after, &o);
    } else if (a == "--exit-mid-reply") {
      if (const char *s = value("--exit-mid-reply"))
        set_count("--exit-mid-reply", s, UINT64_MAX / 16, &o.exit_mid_reply, &o);
    } else if (a == "--silent-after") {
      if (const char *s = value("--silent-after")) set_count("--silent-after", s, UINT64_MAX / 16, &o.silent_after, &o);
    } else if (a == "--silent-mid-reply") {
      if (const char *s = value("--silent-mid-reply"))
        set_count("--silent-mid-reply", s, UINT64_MAX / 16, &o.silent_mid_reply, &o);
    } else if (a == "--close-replies-after") {
      if (const char *s = value("--close-replies-after"))
        set_count("--close-replies-after", s, UINT64_MAX / 16, &o.close_replies_after, &o);
    } else if (a == "--ignore-sigint") {
      o.ignore_sigint = true;
    } else if (a == "--ignore-quit") {
      o.ignore_quit = true;
    } else if (a == "--ignore-sigterm") {
      o.ignore_sigterm = true;
    } else if (a == "--delay-ms") {
      if (const char *s = value("--delay-ms")) {
        v = o.delay_ms;
        set_count("--delay-ms", s, 600000, &v, &o);
        o.delay_ms = unsigned(v);
      }
    } else {
      o.notes.push_back("Ignored unknown option " + a);
    }
  }
  return o;
}

std::string usage_text() {
  return R"(Usage: vum-sim [-q] [--help] [OPTION...]

A simulated PC with a text debugger in the dialect of the Bochs 2.0
debugger, the stand-in that VUM starts as "bochs". Debugger commands are read
from standard input, one per line; the start-up text, replies and prompts
("<bochs:N> ") go to standard error. Standard output carries only what the
guest writes to I/O port 0xe9. Type "help" at the prompt for the commands.

Options (each has an environment variable; an option given wins):
  -q                       accepted and ignored
  --help, -h               this text
  --transcript FILE        VUM_SIM_TRANSCRIPT=FILE: append every command line
                           received, as received, one per line, flushed at
                           once; a SIGINT is recorded as the line "#SIGINT"
                           when it arrives
  --state FILE             VUM_SIM_STATE=FILE: initial processor state and
                           memory (format below), applied after the boot image
                           is loaded
  --image FILE             VUM_SIM_IMAGE=FILE: boot image loaded at 0x7c00
                           in place of the built-in demo
  --guest NAME             VUM_SIM_GUEST=NAME: a built-in guest (below) loaded
                           at 0x7c00 in place of the demo; --image wins
  --magic-break            VUM_SIM_MAGIC_BREAK=1: "xchg bx, bx" ends a run or
                           a step after it, with the line
                           "(0) Magic breakpoint" before "Next at t="
  --reset-on-triple-fault  VUM_SIM_RESET_ON_TRIPLE_FAULT=1: a triple fault
                           reboots the machine (registers as at power-on, the
                           BIOS area, vector table and boot image written
                           again, the rest of memory and the tick count kept)
                           and ends the run or step at f000:fff0 with the line
                           "(0) Reset after a triple fault"; without it the
                           processor shuts down on the faulting instruction
  --fail-start TEXT        VUM_SIM_FAIL_START=TEXT: write the start-up text,
                           then TEXT (each of its lines made printable) and a
                           newline, and exit with status 1 before the first
                           prompt
  --exit-before-prompt     VUM_SIM_EXIT_BEFORE_PROMPT=1: write the start-up
                           text, then exit with status 1 before the first
                           prompt
  --exit-after N           VUM_SIM_EXIT_AFTER=N: exit with status 0, without
                           a reply, right after receiving the N-th command line
  --exit-mid-reply N       VUM_SIM_EXIT_MID_REPLY=N: exit with status 1 after
                           the first line of the reply to the N-th command
                           line ("c": after the stop line; "s": after the
                           "Next at" line; a reply without lines: before the
                           prompt)
  --delay-ms N             VUM_SIM_DELAY_MS=N: sleep N milliseconds before
                           each reply
  --silent-after N         VUM_SIM_SILENT_AFTER=N: from the N-th command line
                           received on, write nothing more on standard error
                           (no reply, no prompt, no trace line); commands are
                           still read, recorded and carried out, and "q" and
                           the end of input still end the program
  --silent-mid-reply N     VUM_SIM_SILENT_MID_REPLY=N: write the first line of
                           the reply to the N-th command line (the same first
                           line as --exit-mid-reply), then stay silent as with
                           --silent-after
  --close-replies-after N  VUM_SIM_CLOSE_REPLIES_AFTER=N: right after
                           receiving the N-th command line, put /dev/null in
                           place of standard error and of every other
                           descriptor of the same file, so that its reader
                           sees the end of the stream;
                           commands are still read, recorded and carried out,
                           and "q" and the end of input still end the program
  --ignore-sigint          VUM_SIM_IGNORE_SIGINT=1: SIGINT stops nothing (a
                           run goes on); the transcript still records it
  --ignore-quit            VUM_SIM_IGNORE_QUIT=1: "q" (quit, exit) is read and
                           recorded but not obeyed, and the end of input does
                           not end the program, nor a run in progress: it goes
                           on until it is killed
  --ignore-sigterm         VUM_SIM_IGNORE_SIGTERM=1: SIGTERM is ignored (only
                           SIGKILL ends the program then)
Values that do not parse are ignored (with a note in the start-up text). A
count of 0 leaves its hook off; a switch set to "0" or "" is off, and so is
an empty VUM_SIM_FAIL_START.

Machine: 16 MiB of memory, one x86 processor executing a subset in real
and protected mode: mov, add, or, adc, sbb, and, sub, xor, cmp, test, inc,
dec, not, neg, lea, xchg, cbw, cwd, sahf, lahf, push, pop, pushf, popf, jmp,
jcc, call, ret, int, iret, loop, loope, loopne, jcxz, movs, stos, lods, cmps,
scas with rep/repe/repne, nop, hlt, cli, sti, clc, stc, cmc, cld, std, in,
out, lgdt, lidt, sgdt, sidt, lldt, ltr, sldt, str, smsw, lmsw, invlpg, clts,
mov to and from cr0 cr2 cr3 cr4; prefixes 26 2e 36 3e 64 65 66 67 f0 f2 f3.
Paging: CR0.PG with the page directory at CR3, 4 KiB pages and, with
CR4.PSE, 4 MiB pages (no PAE; accessed and dirty bits are not written).
Faults and interrupts go through the vector table in real mode and through
the interrupt descriptor table in protected mode (16- and 32-bit interrupt
and trap gates, no privilege change, no task gates); a fault met while
delivering one makes a double fault, one met while delivering a double
fault a triple fault. Anything outside the subset raises the invalid-opcode
fault, whose BIOS handler (vector 6) halts. A page that is not present
raises the page fault (14) with CR2 set. hlt halts until SIGINT (there are
no device interrupts); "s" on a processor halted with interrupts off waits
for SIGINT too. A repeated string instruction runs one iteration per step.
Port 0xe9: bytes written go to standard output (one write per burst, never
blocking: with nobody reading, up to 64 KiB wait, the rest is dropped and a
line "(0) Guest output: N bytes dropped, standard output is full" comes
before the next "Next at t="); reading it gives 0xe9.

Reset: CS:IP = f000:fff0, where "jmp far 0x0000:0x7c00" stands. Every
interrupt vector points at an iret at f000:ff53, except vector 6 (hlt loop at
f000:ff54).

Built-in demo at 0000:7c00 (label addresses stay as they are):
  7c00 start     cli; ds = es = ss = 0; sp = 0x7c00; sti
  7c0d           call clear
  7c10           mov cx, 5
  7c13 count     call bump
  7c16           loop count
  7c18           mov ax, [0x500]      (reads the counter)
  7c1b           cmp ax, 5
  7c1e           jnz spin             (not taken)
  7c20           mov si, msg; mov di, 0x600; mov cx, 8; cld
  7c2a           rep movsb            (copies "VUM demo" to 0x600)
  7c2c           cmp byte [0x600], 'V'
  7c31           jz copied            (taken)
  7c33           hlt                  (skipped)
  7c34 copied    int 0x10
  7c36           call far 0x0000:0x7c5a
  7c3b spin      jmp spin             (endless: Go runs until Stop)
  7c3d bump      push bp; mov bp, sp; push ax; inc the word at 0x500;
                 pop ax; pop bp; ret
  7c4b clear     push cx; push di; rep stosb zeroes 0x500..0x50f; pop di;
                 pop cx; ret
  7c5a farsub    mov word [0x502], 0x1234; retf
  7c61 msg       "VUM demo"
  Data: counter word at 0x500, word at 0x502, copy at 0x600; stack top 0x7c00.

Built-in guests (--guest NAME), also at 0000:7c00:
  e9      7c00 start; 7c15 out 0xe9, al writes "hello from e9\n"; from 7c20
          looping, 7c2b out dx, al writes "e9 loop\n" again and again
  magic   writes "before the magic breakpoint\n" to port 0xe9; 7c20 and 7c25
          xchg bx, bx (a run stops at 7c22, then at 7c27); 7c2a spin
  triple  7c00 counts its boots in the word at 0x500, loads an empty
          interrupt table; 7c20 int 3: a triple fault
  hlt     7c00 cli; 7c01 hlt; 7c02 jmp 7c01
  paging  protected mode and paging: GDT at 7d40 (limit 3f: 08 code32,
          10 data32, 18 stack16 at 0x20000, 20 code16, 28 TSS at 7d90,
          30 ring-3 data at 0xb8000, 38 not present), IDT at 7e00 (limit 187:
          2 task gate, 3 trap gate, 8 13 14 interrupt gates, 30 16-bit
          interrupt gate); CR3 0x10000; linear 0x00800000 maps to physical
          0x13000, linear 0x00400000 is a 4 MiB page at 0xc00000, linear
          0x00801000 is not present; 7cc0 paged, 7cd8 reads 0x00801000 (page
          fault: error code at 0x508, CR2 at 0x50c), 7ce0 done (spins)

State file: one "NAME VALUE" per line; numbers in hex (0x optional); blank
lines and lines starting with '#' are skipped.
  eax ebx ecx edx esi edi esp ebp eip eflags
  cr0 .. cr4, dr0 .. dr7, tr3 .. tr7
  gdtr.base gdtr.limit idtr.base idtr.limit
  SEG.selector SEG.base SEG.limit SEG.access SEG.db SEG.g SEG.valid
      for SEG in cs ss ds es fs gs ldtr tr (limit: the 20-bit field; db, g
      and valid: 0 or 1; access: the descriptor's access byte)
  mem ADDR BYTES           write bytes at a physical address, e.g.
                           "mem 7c00 b8 34 12" or "mem 0x7c00 b83412"
A segment given only its selector gets its base from it: selector*16 in real
mode, the descriptor in the global descriptor table in protected mode (cr0
bit 0 set). Set cs.db 1 for 32-bit code, ss.db 1 for a 32-bit stack.
)";
}

bool read_file(const std::string &path, std::string *out) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    out->append(buf, n);
    if (out->size() > 64u * 1024 * 1024) break;
  }
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

namespace {

struct SegmentGiven {
  bool selector = false, other = false;
};

bool apply_mem(const std::vector<std::string> &w, Machine &m) {
  uint64_t address;
  if (w.size() < 3 || !parse_hex(w[1], 0xffffffffu, &address)) return false;
  std::vector<uint8_t> bytes;
  for (size_t i = 2; i < w.size(); ++i) {
    const std::string &hex = w[i];
    if (hex.size() % 2) return false;
    for (size_t k = 0; k < hex.size(); k += 2) {
      uint64_t b;
      if (!parse_hex(hex.substr(k, 2), 0xff, &b)) return false;
      bytes.push_back(uint8_t(b));
    }
  }
  if (!Memory::in_range(address, bytes.size())) return false;
  m.mem.load(uint32_t(address), bytes.data(), bytes.size());
  return true;
}

}  // namespace

void apply_state(const std::string &text, Machine &m, std::vector<std::string> *notes) {
  static const char *const reg_names[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
  static const char *const seg_names[kSegCount] = {"es", "cs", "ss", "ds", "fs", "gs", "ldtr", "tr"};
  Cpu &c = m.cpu;
  SegmentGiven given[kSegCount];
  size_t pos = 0;
  unsigned line_no = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    std::vector<std::string> w = split_words(line);
    if (w.empty() || w[0][0] == '#') continue;
    auto bad = [&]() { notes->push_back("State file line " + std::to_string(line_no) + " ignored: " + line); };
    if (w[0] == "mem") {
      if (!apply_mem(w, m)) bad();
      continue;
    }
    uint64_t v;
    if (w.size() != 2 || !parse_hex(w[1], 0xffffffffu, &v)) {
      bad();
      continue;
    }
    const std::string &name = w[0];
    const uint32_t value = uint32_t(v);
    bool done = false;
    for (int r = 0; r < 8 && !done; ++r)
      if (name == reg_names[r]) c.regs[r] = value, done = true;
    if (done) continue;
    if (name == "eip") {
      c.eip = value;
    } else if (name == "eflags") {
      c.eflags = value | 2;
    } else if (name.size() == 3 && (name.compare(0, 2, "cr") == 0) && name[2] >= '0' && name[2] <= '4') {
      c.cr[name[2] - '0'] = value;
    } else if (name.size() == 3 && name.compare(0, 2, "dr") == 0 && name[2] >= '0' && name[2] <= '7') {
      c.dr[name[2] - '0'] = value;
    } else if (name.size() == 3 && name.compare(0, 2, "tr") == 0 && name[2] >= '3' && name[2] <= '7') {
      c.tr[name[2] - '0'] = value;
    } else if (name == "gdtr.base") {
      c.gdtr_base = value;
    } else if (name == "gdtr.limit") {
      c.gdtr_limit = value;
    } else if (name == "idtr.base") {
      c.idtr_base = value;
    } else if (name == "idtr.limit") {
      c.idtr_limit = value;
    } else {
      size_t dot = name.find('.');
      int s = -1;
      for (int i = 0; i < kSegCount && dot != std::string::npos; ++i)
        if (name.compare(0, dot, seg_names[i]) == 0 && dot == strlen(seg_names[i])) s = i;
      std::string field = dot == std::string::npos ? "" : name.substr(dot + 1);
      if (s < 0) {
        bad();
        continue;
      }
      Segment &g = c.seg[s];
      if (field == "selector" && value <= 0xffff) {
        g.selector = uint16_t(value);
        given[s].selector = true;
      } else if (field == "base") {
        g.base = value, given[s].other = true;
      } else if (field == "limit" && value <= 0xfffff) {
        g.limit = value, given[s].other = true;
      } else if (field == "access" && value <= 0xff) {
        g.access = uint8_t(value), given[s].other = true;
      } else if (field == "db" && value <= 1) {
        g.db = value, given[s].other = true;
      } else if (field == "g" && value <= 1) {
        g.g = value, given[s].other = true;
      } else if (field == "valid" && value <= 1) {
        g.valid = value, given[s].other = true;
      } else {
        bad();
      }
    }
  }
  // A segment given only a selector takes its base from it.
  for (int s = 0; s < kSegCount; ++s) {
    if (!given[s].selector || given[s].other) continue;
    Segment &g = c.seg[s];
    if (!c.protected_mode()) {
      load_real_segment(g, g.selector);
    } else if (!read_descriptor(m, g.selector, &g)) {
      notes->push_back(std::string("State file: ") + seg_names[s] + " selector not in the descriptor table");
    }
  }
}

}  // namespace sim
