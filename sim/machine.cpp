#include "machine.hpp"

#include "bios.hpp"

namespace sim {

void Segment::set_descriptor(uint32_t dl, uint32_t dh) {
  limit = (dl & 0xffff) | (dh & 0xf0000);
  base = (dl >> 16) | ((dh & 0xff) << 16) | (dh & 0xff000000);
  access = uint8_t(dh >> 8);
  db = (dh >> 22) & 1;
  g = (dh >> 23) & 1;
}

void load_real_segment(Segment &s, uint16_t selector) {
  s.selector = selector;
  s.base = uint32_t(selector) << 4;
  s.valid = true;
}

bool read_descriptor(const Machine &m, uint16_t selector, Segment *out) {
  if ((selector & ~3u) == 0) return false;  // the null selector
  uint32_t index = selector & ~7u;
  if (index + 7 > m.cpu.gdtr_limit) return false;
  uint32_t at = m.cpu.gdtr_base + index;
  out->set_descriptor(m.mem.read(at, 4), m.mem.read(at + 4, 4));
  out->selector = selector;
  out->valid = true;
  return true;
}

bool virtual_to_linear(const Machine &m, uint16_t selector, uint32_t offset, uint32_t *linear) {
  if (!m.cpu.protected_mode()) {
    *linear = (uint32_t(selector) << 4) + offset;
    return true;
  }
  for (int s : {CS, SS}) {
    if (m.cpu.seg[s].selector == selector && m.cpu.seg[s].valid) {
      *linear = m.cpu.seg[s].base + offset;
      return true;
    }
  }
  Segment d;
  if (!read_descriptor(m, selector, &d)) return false;
  *linear = d.base + offset;
  return true;
}

void reset(Machine &m) {
  m.cpu = Cpu();
  m.ticks = 0;
  Cpu &c = m.cpu;
  for (int s = ES; s <= GS; ++s) load_real_segment(c.seg[s], 0);
  c.seg[CS].access = 0x9b;  // present, readable code, accessed
  load_real_segment(c.seg[CS], bios::kResetSegment);
  c.eip = bios::kResetOffset;
  c.seg[LDTR].access = 0x82;  // present LDT
  c.seg[TR].access = 0x8b;    // present busy 386 TSS
  bios::install(m.mem);
}

}  // namespace sim
