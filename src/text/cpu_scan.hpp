// The processor's registers as the debugger reports them ("dump_cpu"), the
// texts the CPU state panel shows for them, and the arithmetic of the stack
// view: functions of text and numbers, no toolkit.
#pragma once

#include <cstddef>
#include <cstdint>

struct SegmentState {
  uint32_t selector;
  uint32_t dl;
  uint32_t dh;
  uint32_t valid;
};

struct TableRegister {
  uint32_t base;
  uint32_t limit;
};

struct CpuState {
  uint32_t eax, ebx, ecx, edx, ebp, esi, edi, esp;
  uint32_t eflags;
  uint32_t eip;
  SegmentState cs, ss, ds, es, fs, gs, ldtr, tr;
  TableRegister gdtr, idtr;
  uint32_t dr[8];
  uint32_t tr3, tr4, tr5, tr6, tr7;
  uint32_t cr0, cr1, cr2, cr3, cr4;
  uint32_t inhibit_mask;
};

// Scans a "dump_cpu" reply (its text up to the prompt) with the one pattern of
// the register dump, under scanf rules: fields are stored as they convert, so
// a reply that stops matching leaves every later field as it was. The result
// is the number of values stored (63 for a whole reply).
int scan_cpu_state(const char *text, CpuState *cpu);

// The pattern itself, and the 63 fields it fills in order (the result is
// their number), for checking the scan against the C library's.
const char *cpu_state_pattern();
int cpu_state_fields(CpuState *cpu, uint32_t *fields[63]);

// The 16-bit rule: four digits when the value is below 0x10000 and either
// protection is off (bit 0 of cr0) or the descriptor's D/B bit (bit 22 of dh)
// is clear; eight otherwise. `out` holds at least 9 bytes.
void format_by_segment(char *out, uint32_t value, uint32_t cr0, const SegmentState &segment);

// "%.4X  valid" or "%.4X  invalid"; `out` holds at least 20 bytes.
void format_segment(char *out, const SegmentState &segment);

// "%.8X  (%.5X)" of base and limit; `out` holds at least 24 bytes.
void format_table_register(char *out, const TableRegister &table);

// The registers the panel shows, in the order their entries are written.
enum RegisterEntry {
  entry_eax, entry_ebx, entry_ecx, entry_edx, entry_ebp, entry_esi, entry_edi, entry_esp,
  entry_eflags, entry_eip,
  entry_cs, entry_ss, entry_ds, entry_es, entry_fs, entry_gs, entry_tr, entry_ldtr,
  entry_gdtr, entry_idtr,
  entry_dr0, entry_dr1, entry_dr2, entry_dr3, entry_dr6, entry_dr7,
  entry_tr3, entry_tr4, entry_tr5, entry_tr6, entry_tr7,
  entry_cr0, entry_cr1, entry_cr2, entry_cr3, entry_cr4,
  register_entries,
};
extern const char *const register_labels[register_entries];

// The text of one register's entry; `out` holds at least 32 bytes.
void format_register(char *out, const CpuState &cpu, RegisterEntry entry);

// The EFLAGS rows: 21 values (one digit each, IOPL 0 to 3) and their names,
// Resume always 0.
const int eflags_rows = 21;
extern const char *const eflags_row_names[eflags_rows];
void eflags_row_values(uint32_t eflags, int values[eflags_rows]);

// The stack segment as the stack view sees it.
struct StackMode {
  bool wide;       // a 32-bit stack: protected mode and SS's B bit set
  bool base_ok;    // the segment's base plus its limit (the granularity bit applied) fits 32 bits
  uint32_t base;   // linear address of offset 0: the descriptor's in protected mode,
                   // else the selector times 16
  uint32_t size;   // bytes per element, 4 or 2
};
StackMode stack_mode(const CpuState &cpu);

// The most elements read above and below ESP in one refresh, whatever the
// settings ask: a count gone wild (a negative number typed in, a huge one in
// the configuration file) must not cost billions of exchanges.
const uint32_t stack_walk_limit = 1024;

// The offsets walked, from `hi` down to `lo` (no element when hi < lo).
struct StackWalk {
  uint32_t lo, hi;
};
StackWalk stack_walk(uint32_t esp, uint32_t above, uint32_t below, uint32_t size);

// The value of one element's reply: "%*s %*s 0x%x" on its text up to the
// prompt. False when it does not scan.
bool scan_stack_value(const char *text, uint32_t *value);

// "%+d" of a signed 32-bit difference; `out` holds at least 12 bytes.
void format_offset(char *out, uint32_t from, uint32_t to);
