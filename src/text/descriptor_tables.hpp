// The processor's descriptor tables as memory holds them: GDT and LDT
// descriptors (code, data, system segments and gates), IDT gates, the
// real-mode interrupt vector table and the task state segment, decoded from
// their bytes into records and into the texts the Tables page shows. No
// toolkit, no debugger: bytes in, records and texts out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/cpu_scan.hpp"

// One 8-byte descriptor, as the processor reads it: the low and the high
// doubleword (the dl and dh of the register dump).
struct Descriptor {
  uint32_t low, high;
  bool empty;        // all eight bytes zero
  bool system;       // S clear: a system segment or a gate
  uint32_t type;     // the 4-bit type field
  uint32_t dpl;
  bool present;
  // Segments.
  uint32_t base;
  uint32_t limit;    // in bytes less one, the granularity applied
  bool granularity;  // G: the limit counts 4 KiB units
  bool db;           // D (code) or B (data, stack)
  bool l;            // 64-bit code
  bool avl;
  // Gates.
  bool gate;
  uint32_t selector;
  uint32_t offset;   // 16 bits for 16-bit gates
  uint32_t params;   // call gates: doublewords (or words) copied
};

Descriptor decode_descriptor(uint32_t low, uint32_t high);

// The descriptor at `index` of a table read into `bytes` (8 bytes each,
// little-endian).
Descriptor descriptor_at(const std::vector<uint8_t> &bytes, size_t index);

// The type of a descriptor in words: "Code, execute/read, accessed",
// "Data, read/write, expand-down", "TSS (32-bit, busy)", "LDT",
// "Interrupt gate (16-bit)", "Reserved (type 8)" ...
std::string descriptor_type_text(const Descriptor &d);

// Which table a row belongs to: the GDT's entry 0 is the null descriptor,
// and an LDT's selectors have the TI bit.
enum class TableKind { gdt, ldt };

// The cells of one row of the GDT or an LDT.
struct DescriptorRow {
  char index[8];      // decimal
  char selector[8];   // "%.4X"
  char base[24];      // "%.8X"; a gate's target "SSSS:OOOOOOOO"; a task gate's "TSS SSSS"
  char limit[12];     // "%.8X"; empty for gates
  std::string type;
  char dpl[4];
  char present[4];    // "yes" / "no"
  char bits[16];      // "D=1 L=0" (code), "B=1 L=0" (data); empty otherwise
};
void format_descriptor_row(TableKind kind, uint32_t index, const Descriptor &d, DescriptorRow *row);

// How many 8-byte entries a table register's limit holds: (limit + 1) / 8,
// at most `most`.
uint32_t table_entries(uint32_t limit, uint32_t entry_size, uint32_t most);

// ---------------------------------------------------------------------------
// The interrupt descriptor table.

// The name of a processor exception (vectors 0 to 31): "#DE Divide error";
// empty for the others.
const char *exception_name(uint32_t vector);

struct GateRow {
  char vector[12];    // "%u (%.2Xh)"
  std::string name;   // the exception's name, protected mode only
  std::string gate;   // "Interrupt gate (32-bit)", "Trap gate (16-bit)", "Task gate",
                      // "Empty", "Not a gate (type 9)"; real mode: "Vector"
  char target[32];    // "SSSS:OOOOOOOO", "SSSS:OOOO" (16-bit), "TSS SSSS";
                      // real mode "SSSS:OOOO (LLLLL)"
  char dpl[4];
  char present[4];
};

// A protected-mode gate (8 bytes).
void format_gate_row(uint32_t vector, const Descriptor &d, GateRow *row);

// A real-mode vector: the 4 bytes offset, segment of the vector table.
void format_vector_row(uint32_t vector, uint32_t offset, uint32_t segment, GateRow *row);

// ---------------------------------------------------------------------------
// The task state segment.

struct TssField {
  uint32_t offset;    // within the segment
  uint32_t size;      // 2 or 4 bytes
  const char *name;
};

// The fields of a 32-bit TSS (104 bytes) or a 16-bit one (44 bytes), in
// the order of their offsets.
const std::vector<TssField> &tss_fields(bool wide);

struct TssRow {
  char offset[8];     // "%.2X"
  const char *name;
  char value[24];     // "%.8X" or "%.4X"; "beyond the limit" when the
                      // segment ends before the field
};

// The rows of a TSS read into `bytes` (as many as could be read; the
// segment's limit decides which fields it holds).
std::vector<TssRow> tss_rows(bool wide, const std::vector<uint8_t> &bytes, uint32_t limit);

// ---------------------------------------------------------------------------
// The segment registers' hidden parts: where the LDT and the TSS are.

struct SystemSegment {
  bool loaded;        // a selector other than 0 with a valid cache
  bool usable;        // loaded, and its descriptor is of the kind expected
  bool wide;          // a 32-bit TSS
  bool busy;          // a busy TSS
  uint32_t selector;
  uint32_t base;
  uint32_t limit;
  std::string note;   // why it cannot be shown, or what it is
};

// LDTR and TR as the register dump gives them.
SystemSegment ldt_segment(const SegmentState &ldtr);
SystemSegment tss_segment(const SegmentState &tr);
