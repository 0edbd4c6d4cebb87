#include "text/descriptor_tables.hpp"

#include <cstdio>
#include <cstring>

namespace {

uint32_t bits_of(uint32_t value, int shift, uint32_t mask) { return (value >> shift) & mask; }

uint32_t little_endian(const std::vector<uint8_t> &bytes, size_t at, unsigned size) {
  uint32_t v = 0;
  for (unsigned i = size; i-- > 0;) v = v << 8 | bytes[at + i];
  return v;
}

// The system types that are gates, and whether a gate's offset is 32 bits.
bool is_gate_type(uint32_t type) {
  switch (type) {
    case 0x4: case 0x5: case 0x6: case 0x7: case 0xC: case 0xE: case 0xF: return true;
    default: return false;
  }
}
bool wide_gate(uint32_t type) { return type >= 0xC; }

const char *const system_types[16] = {
    NULL,                     "TSS (16-bit, available)", "LDT",       "TSS (16-bit, busy)",
    "Call gate (16-bit)",     "Task gate",               "Interrupt gate (16-bit)", "Trap gate (16-bit)",
    NULL,                     "TSS (32-bit, available)", NULL,        "TSS (32-bit, busy)",
    "Call gate (32-bit)",     NULL,                      "Interrupt gate (32-bit)", "Trap gate (32-bit)",
};

void set_yes_no(char out[4], bool yes) { snprintf(out, 4, "%s", yes ? "yes" : "no"); }

}  // namespace

Descriptor decode_descriptor(uint32_t low, uint32_t high) {
  Descriptor d = {};
  d.low = low;
  d.high = high;
  d.empty = low == 0 && high == 0;
  d.type = bits_of(high, 8, 0xF);
  d.system = bits_of(high, 12, 1) == 0;
  d.dpl = bits_of(high, 13, 3);
  d.present = bits_of(high, 15, 1) != 0;
  d.avl = bits_of(high, 20, 1) != 0;
  d.l = bits_of(high, 21, 1) != 0;
  d.db = bits_of(high, 22, 1) != 0;
  d.granularity = bits_of(high, 23, 1) != 0;
  d.base = (low >> 16) | (high & 0xFFu) << 16 | (high & 0xFF000000u);
  uint32_t limit = (low & 0xFFFFu) | (high & 0x000F0000u);
  d.limit = d.granularity ? limit << 12 | 0xFFFu : limit;
  d.gate = d.system && is_gate_type(d.type);
  if (d.gate) {
    d.selector = low >> 16;
    if (d.type == 0x5)
      d.offset = 0;
    else if (wide_gate(d.type))
      d.offset = (low & 0xFFFFu) | (high & 0xFFFF0000u);
    else
      d.offset = low & 0xFFFFu;
    d.params = (d.type == 0x4 || d.type == 0xC) ? (high & 0x1Fu) : 0;
  }
  return d;
}

Descriptor descriptor_at(const std::vector<uint8_t> &bytes, size_t index) {
  size_t at = index * 8;
  if (at + 8 > bytes.size()) return decode_descriptor(0, 0);
  return decode_descriptor(little_endian(bytes, at, 4), little_endian(bytes, at + 4, 4));
}

std::string descriptor_type_text(const Descriptor &d) {
  if (d.empty) return "Empty";
  char text[64];
  if (d.system) {
    const char *name = system_types[d.type & 0xF];
    if (name == NULL) {
      snprintf(text, sizeof text, "Reserved (type %X)", d.type);
      return text;
    }
    if ((d.type == 0x4 || d.type == 0xC) && d.params != 0) {
      snprintf(text, sizeof text, "Call gate (%s, %u parameter%s)", d.type == 0xC ? "32-bit" : "16-bit", d.params,
               d.params == 1 ? "" : "s");
      return text;
    }
    return name;
  }
  std::string s;
  if (d.type & 0x8) {
    s = (d.type & 0x2) ? "Code, execute/read" : "Code, execute-only";
    if (d.type & 0x4) s += ", conforming";
  } else {
    s = (d.type & 0x2) ? "Data, read/write" : "Data, read-only";
    if (d.type & 0x4) s += ", expand-down";
  }
  if (d.type & 0x1) s += ", accessed";
  return s;
}

void format_descriptor_row(TableKind kind, uint32_t index, const Descriptor &d, DescriptorRow *row) {
  snprintf(row->index, sizeof row->index, "%u", index & 0x1FFFu);
  snprintf(row->selector, sizeof row->selector, "%.4X", (index & 0x1FFFu) << 3 | (kind == TableKind::ldt ? 4u : 0u));
  row->base[0] = row->limit[0] = row->bits[0] = row->dpl[0] = row->present[0] = '\0';
  if (kind == TableKind::gdt && index == 0) {
    // The processor never reads entry 0: a selector of it is the null selector.
    row->type = d.empty ? "Null" : "Null (not used)";
    return;
  }
  row->type = descriptor_type_text(d);
  if (d.empty) return;
  snprintf(row->dpl, sizeof row->dpl, "%u", d.dpl);
  set_yes_no(row->present, d.present);
  if (d.gate) {
    if (d.type == 0x5)
      snprintf(row->base, sizeof row->base, "TSS %.4X", d.selector);
    else if (wide_gate(d.type))
      snprintf(row->base, sizeof row->base, "%.4X:%.8X", d.selector, d.offset);
    else
      snprintf(row->base, sizeof row->base, "%.4X:%.4X", d.selector, d.offset);
    return;
  }
  snprintf(row->base, sizeof row->base, "%.8X", d.base);
  snprintf(row->limit, sizeof row->limit, "%.8X", d.limit);
  if (!d.system) snprintf(row->bits, sizeof row->bits, "%c=%d L=%d", (d.type & 0x8) ? 'D' : 'B', d.db, d.l);
}

uint32_t table_entries(uint32_t limit, uint32_t entry_size, uint32_t most) {
  uint64_t n = ((uint64_t)limit + 1) / entry_size;
  return n > most ? most : (uint32_t)n;
}

const char *exception_name(uint32_t vector) {
  static const char *const names[32] = {
      "#DE Divide error",       "#DB Debug",               "NMI",
      "#BP Breakpoint",         "#OF Overflow",            "#BR Bound range exceeded",
      "#UD Invalid opcode",     "#NM No math coprocessor", "#DF Double fault",
      "Coprocessor segment overrun", "#TS Invalid TSS",    "#NP Segment not present",
      "#SS Stack fault",        "#GP General protection",  "#PF Page fault",
      "",                       "#MF Floating-point error", "#AC Alignment check",
      "#MC Machine check",      "#XM SIMD floating-point", "#VE Virtualization",
      "#CP Control protection", "", "", "", "", "", "", "", "", "", "",
  };
  return vector < 32 ? names[vector] : "";
}

void format_gate_row(uint32_t vector, const Descriptor &d, GateRow *row) {
  snprintf(row->vector, sizeof row->vector, "%.2X (%u)", vector & 0xFFu, vector & 0xFFu);
  row->name = exception_name(vector);
  row->target[0] = row->dpl[0] = row->present[0] = '\0';
  if (d.empty) {
    row->gate = "Empty";
    return;
  }
  snprintf(row->dpl, sizeof row->dpl, "%u", d.dpl);
  set_yes_no(row->present, d.present);
  // Only task, interrupt and trap gates belong in the IDT.
  bool idt_gate = d.gate && d.type != 0x4 && d.type != 0xC;
  if (!idt_gate) {
    char text[40];
    snprintf(text, sizeof text, "Not a gate (%s type %X)", d.system ? "system" : "segment", d.type);
    row->gate = text;
    return;
  }
  row->gate = descriptor_type_text(d);
  if (d.type == 0x5)
    snprintf(row->target, sizeof row->target, "TSS %.4X", d.selector);
  else if (wide_gate(d.type))
    snprintf(row->target, sizeof row->target, "%.4X:%.8X", d.selector, d.offset);
  else
    snprintf(row->target, sizeof row->target, "%.4X:%.4X", d.selector, d.offset);
}

void format_vector_row(uint32_t vector, uint32_t offset, uint32_t segment, GateRow *row) {
  snprintf(row->vector, sizeof row->vector, "%.2X (%u)", vector & 0xFFu, vector & 0xFFu);
  row->name.clear();
  row->gate = "Vector";
  offset &= 0xFFFFu;
  segment &= 0xFFFFu;
  snprintf(row->target, sizeof row->target, "%.4X:%.4X (%.5X)", segment, offset, segment * 16 + offset);
  row->dpl[0] = row->present[0] = '\0';
}

const std::vector<TssField> &tss_fields(bool wide) {
  static const std::vector<TssField> wide_fields = {
      {0x00, 2, "Link"}, {0x04, 4, "ESP0"}, {0x08, 2, "SS0"}, {0x0C, 4, "ESP1"}, {0x10, 2, "SS1"},
      {0x14, 4, "ESP2"}, {0x18, 2, "SS2"},  {0x1C, 4, "CR3"}, {0x20, 4, "EIP"},  {0x24, 4, "EFLAGS"},
      {0x28, 4, "EAX"},  {0x2C, 4, "ECX"},  {0x30, 4, "EDX"}, {0x34, 4, "EBX"},  {0x38, 4, "ESP"},
      {0x3C, 4, "EBP"},  {0x40, 4, "ESI"},  {0x44, 4, "EDI"}, {0x48, 2, "ES"},   {0x4C, 2, "CS"},
      {0x50, 2, "SS"},   {0x54, 2, "DS"},   {0x58, 2, "FS"},  {0x5C, 2, "GS"},   {0x60, 2, "LDT"},
      {0x64, 2, "T (debug trap)"}, {0x66, 2, "I/O map base"},
  };
  static const std::vector<TssField> narrow_fields = {
      {0x00, 2, "Link"}, {0x02, 2, "SP0"},   {0x04, 2, "SS0"}, {0x06, 2, "SP1"}, {0x08, 2, "SS1"},
      {0x0A, 2, "SP2"},  {0x0C, 2, "SS2"},   {0x0E, 2, "IP"},  {0x10, 2, "FLAGS"}, {0x12, 2, "AX"},
      {0x14, 2, "CX"},   {0x16, 2, "DX"},    {0x18, 2, "BX"},  {0x1A, 2, "SP"},  {0x1C, 2, "BP"},
      {0x1E, 2, "SI"},   {0x20, 2, "DI"},    {0x22, 2, "ES"},  {0x24, 2, "CS"},  {0x26, 2, "SS"},
      {0x28, 2, "DS"},   {0x2A, 2, "LDT"},
  };
  return wide ? wide_fields : narrow_fields;
}

std::vector<TssRow> tss_rows(bool wide, const std::vector<uint8_t> &bytes, uint32_t limit) {
  std::vector<TssRow> rows;
  for (const TssField &f : tss_fields(wide)) {
    TssRow r;
    snprintf(r.offset, sizeof r.offset, "%.2X", f.offset);
    r.name = f.name;
    if ((uint64_t)f.offset + f.size - 1 > limit) {
      snprintf(r.value, sizeof r.value, "beyond the limit");
    } else if (f.offset + f.size > bytes.size()) {
      snprintf(r.value, sizeof r.value, "not read");
    } else {
      uint32_t v = little_endian(bytes, f.offset, f.size);
      if (f.offset == 0x64 && wide) v &= 1;  // the other bits are reserved
      snprintf(r.value, sizeof r.value, f.size == 4 ? "%.8X" : "%.4X", v);
    }
    rows.push_back(r);
  }
  return rows;
}

namespace {

SystemSegment system_segment(const SegmentState &reg, const char *name) {
  SystemSegment s = {};
  s.selector = reg.selector & 0xFFFFu;
  char text[96];
  if ((s.selector & ~3u) == 0) {
    snprintf(text, sizeof text, "%s is %.4X: none is loaded", name, s.selector);
    s.note = text;
    return s;
  }
  if (!reg.valid) {
    snprintf(text, sizeof text, "%s %.4X is not valid", name, s.selector);
    s.note = text;
    return s;
  }
  s.loaded = true;
  Descriptor d = decode_descriptor(reg.dl, reg.dh);
  s.base = d.base;
  s.limit = d.limit;
  return s;
}

}  // namespace

SystemSegment ldt_segment(const SegmentState &ldtr) {
  SystemSegment s = system_segment(ldtr, "LDTR");
  if (!s.loaded) return s;
  Descriptor d = decode_descriptor(ldtr.dl, ldtr.dh);
  char text[128];
  if (!d.system || d.type != 0x2) {
    snprintf(text, sizeof text, "LDTR %.4X holds a descriptor that is no LDT (%s)", s.selector,
             descriptor_type_text(d).c_str());
    s.note = text;
    return s;
  }
  s.usable = true;
  snprintf(text, sizeof text, "LDTR %.4X: LDT at %.8X, limit %.8X", s.selector, s.base, s.limit);
  s.note = text;
  return s;
}

SystemSegment tss_segment(const SegmentState &tr) {
  SystemSegment s = system_segment(tr, "TR");
  if (!s.loaded) return s;
  Descriptor d = decode_descriptor(tr.dl, tr.dh);
  char text[128];
  bool tss = d.system && (d.type == 0x1 || d.type == 0x3 || d.type == 0x9 || d.type == 0xB);
  if (!tss) {
    snprintf(text, sizeof text, "TR %.4X holds a descriptor that is no TSS (%s)", s.selector,
             descriptor_type_text(d).c_str());
    s.note = text;
    return s;
  }
  s.usable = true;
  s.wide = d.type >= 0x9;
  s.busy = (d.type & 0x2) != 0;
  snprintf(text, sizeof text, "TR %.4X: %s at %.8X, limit %.8X", s.selector, descriptor_type_text(d).c_str(), s.base,
           s.limit);
  s.note = text;
  return s;
}
