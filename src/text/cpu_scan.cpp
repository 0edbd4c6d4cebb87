#include "text/cpu_scan.hpp"

#include <cstdio>
#include <initializer_list>

#include "text/reply_scan.hpp"

// The pattern of the register dump, as the scanf family reads it; read here
// by scan_pattern, which gives what sscanf gives at a fraction of its cost
// (the dump is read at every stop).
static const char *const cpu_pattern =
    " eax:%x\nebx:%x\necx:%x\nedx:%x\nebp:%x\nesi:%x\nedi:%x\nesp:%x\neflags:%x\neip:%x\n"
    "cs:s=%x, dl=%x, dh=%x, valid=%u\nss:s=%x, dl=%x, dh=%x, valid=%u\n"
    "ds:s=%x, dl=%x, dh=%x, valid=%u\nes:s=%x, dl=%x, dh=%x, valid=%u\n"
    "fs:s=%x, dl=%x, dh=%x, valid=%u\ngs:s=%x, dl=%x, dh=%x, valid=%u\n"
    "ldtr:s=%x, dl=%x, dh=%x, valid=%u\ntr:s=%x, dl=%x, dh=%x, valid=%u\n"
    "gdtr:base=%x, limit=%x\nidtr:base=%x, limit=%x\n"
    "dr0:%x\ndr1:%x\ndr2:%x\ndr3:%x\ndr6:%x\ndr7:%x\n"
    "tr3:%x\ntr4:%x\ntr5:%x\ntr6:%x\ntr7:%x\n"
    "cr0:%x\ncr1:%x\ncr2:%x\ncr3:%x\ncr4:%x\ninhibit_mask:%u\ndone\n";

const char *cpu_state_pattern() { return cpu_pattern; }

int cpu_state_fields(CpuState *c, uint32_t *fields[63]) {
  SegmentState *s[8] = {&c->cs, &c->ss, &c->ds, &c->es, &c->fs, &c->gs, &c->ldtr, &c->tr};
  int n = 0;
  for (uint32_t *f : {&c->eax, &c->ebx, &c->ecx, &c->edx, &c->ebp, &c->esi, &c->edi, &c->esp,
                      &c->eflags, &c->eip})
    fields[n++] = f;
  for (SegmentState *g : s)
    for (uint32_t *f : {&g->selector, &g->dl, &g->dh, &g->valid}) fields[n++] = f;
  for (uint32_t *f : {&c->gdtr.base, &c->gdtr.limit, &c->idtr.base, &c->idtr.limit, &c->dr[0],
                      &c->dr[1], &c->dr[2], &c->dr[3], &c->dr[6], &c->dr[7], &c->tr3, &c->tr4,
                      &c->tr5, &c->tr6, &c->tr7, &c->cr0, &c->cr1, &c->cr2, &c->cr3, &c->cr4,
                      &c->inhibit_mask})
    fields[n++] = f;
  return n;
}

int scan_cpu_state(const char *text, CpuState *c) {
  uint32_t *fields[63];
  cpu_state_fields(c, fields);
  int n = scan_pattern(text, cpu_pattern, fields);
  return n < 0 ? 0 : n;
}

static bool protection_on(uint32_t cr0) { return (cr0 & 1) != 0; }
static bool big_bit(const SegmentState &segment) { return (segment.dh >> 22) & 1; }

void format_by_segment(char *out, uint32_t value, uint32_t cr0, const SegmentState &segment) {
  bool narrow = value < 0x10000 && (!protection_on(cr0) || !big_bit(segment));
  format_hex(out, value, narrow ? 4 : 8);
}

void format_segment(char *out, const SegmentState &segment) {
  snprintf(out, 20, "%.4X  %s", segment.selector, segment.valid ? "valid" : "invalid");
}

void format_table_register(char *out, const TableRegister &table) {
  snprintf(out, 24, "%.8X  (%.5X)", table.base, table.limit);
}

const char *const register_labels[register_entries] = {
    "EAX", "EBX", "ECX", "EDX", "EBP", "ESI", "EDI", "ESP", "EFLAGS", "EIP",
    "CS", "SS", "DS", "ES", "FS", "GS", "TR", "LDTR", "GDTR", "IDTR",
    "DR0", "DR1", "DR2", "DR3", "DR6", "DR7", "TR3", "TR4", "TR5", "TR6", "TR7",
    "CR0", "CR1", "CR2", "CR3", "CR4",
};

void format_register(char *out, const CpuState &c, RegisterEntry entry) {
  const uint32_t plain[register_entries] = {
      c.eax, c.ebx, c.ecx, c.edx, 0, c.esi, c.edi, 0, c.eflags, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      c.dr[0], c.dr[1], c.dr[2], c.dr[3], c.dr[6], c.dr[7], c.tr3, c.tr4, c.tr5, c.tr6, c.tr7,
      c.cr0, c.cr1, c.cr2, c.cr3, c.cr4,
  };
  const SegmentState *segments[8] = {&c.cs, &c.ss, &c.ds, &c.es, &c.fs, &c.gs, &c.tr, &c.ldtr};
  switch (entry) {
    case entry_ebp: format_by_segment(out, c.ebp, c.cr0, c.ss); break;
    case entry_esp: format_by_segment(out, c.esp, c.cr0, c.ss); break;
    case entry_eip: format_by_segment(out, c.eip, c.cr0, c.cs); break;
    case entry_cs: case entry_ss: case entry_ds: case entry_es: case entry_fs: case entry_gs:
    case entry_tr: case entry_ldtr:
      format_segment(out, *segments[entry - entry_cs]);
      break;
    case entry_gdtr: format_table_register(out, c.gdtr); break;
    case entry_idtr: format_table_register(out, c.idtr); break;
    default: format_hex(out, entry < register_entries ? plain[entry] : 0, 8); break;
  }
}

const char *const eflags_row_names[eflags_rows] = {
    "Carry",     "-",         "Parity",   "-",           "Auxiliary", "-",
    "Zero",      "Sign",      "Trap",     "Interrupt",   "Direction", "Overflow",
    "IOPL",      "Nested Task", "-",      "Resume",      "V86",       "Alignment Check",
    "Virtual Interrupt", "Virtual Interrupt Pending", "ID",
};

void eflags_row_values(uint32_t eflags, int values[eflags_rows]) {
  for (int bit = 0; bit <= 11; bit++) values[bit] = (eflags >> bit) & 1;
  values[12] = (eflags >> 12) & 3;  // IOPL
  values[13] = (eflags >> 14) & 1;
  values[14] = (eflags >> 15) & 1;
  values[15] = 0;                   // Resume: never shown set
  for (int bit = 17; bit <= 21; bit++) values[bit - 1] = (eflags >> bit) & 1;
}

StackMode stack_mode(const CpuState &cpu) {
  StackMode mode;
  // In protected mode (not virtual-8086) the stack segment's base and limit
  // come from its descriptor, whatever its width; otherwise the base is the
  // selector times 16.
  bool descriptor = protection_on(cpu.cr0) && !((cpu.eflags >> 17) & 1);
  mode.wide = descriptor && big_bit(cpu.ss);
  mode.size = mode.wide ? 4 : 2;
  mode.base_ok = true;
  if (descriptor) {
    uint32_t base = (cpu.ss.dh & 0xFF000000u) | ((cpu.ss.dh & 0xFFu) << 16) | (cpu.ss.dl >> 16);
    uint64_t limit = (cpu.ss.dh & 0x000F0000u) | (cpu.ss.dl & 0xFFFFu);
    if ((cpu.ss.dh >> 23) & 1) limit = limit * 4096 + 4095;  // the granularity bit: pages
    mode.base = base;
    mode.base_ok = (uint64_t)base + limit <= 0xFFFFFFFFu;
  } else {
    mode.base = cpu.ss.selector * 16u;
  }
  return mode;
}

StackWalk stack_walk(uint32_t esp, uint32_t above, uint32_t below, uint32_t size) {
  if (above > stack_walk_limit) above = stack_walk_limit;
  if (below > stack_walk_limit) below = stack_walk_limit;
  StackWalk walk;
  uint32_t down = below * size;
  walk.lo = down > esp ? 0 : esp - down;
  walk.hi = esp + above * size;
  return walk;
}

bool scan_stack_value(const char *text, uint32_t *value) {
  unsigned int v;
  if (sscanf(text, "%*s %*s 0x%x", &v) != 1) return false;
  *value = v;
  return true;
}

void format_offset(char *out, uint32_t from, uint32_t to) {
  snprintf(out, 12, "%+d", (int32_t)(from - to));
}
