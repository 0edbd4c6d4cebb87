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

bool translate(const Machine &m, uint32_t linear, uint32_t *physical) {
  const Cpu &c = m.cpu;
  if (!c.paging()) {
    *physical = linear;
    return true;
  }
  uint32_t pde = m.mem.read((c.cr[3] & ~0xfffu) + (linear >> 22) * 4, 4);
  if (!(pde & 1)) return false;
  if ((pde & 0x80) && (c.cr[4] & kCr4Pse)) {
    *physical = (pde & 0xffc00000u) | (linear & 0x003fffffu);
    return true;
  }
  uint32_t pte = m.mem.read((pde & ~0xfffu) + ((linear >> 12) & 0x3ff) * 4, 4);
  if (!(pte & 1)) return false;
  *physical = (pte & ~0xfffu) | (linear & 0xfffu);
  return true;
}

bool read_linear(const Machine &m, uint32_t linear, unsigned size, uint32_t *value) {
  uint32_t v = 0;
  for (unsigned i = 0; i < size; ++i) {
    uint32_t p;
    if (!translate(m, linear + i, &p)) return false;
    v |= uint32_t(m.mem.read8(p)) << (8 * i);
  }
  *value = v;
  return true;
}

bool read_descriptor(const Machine &m, uint16_t selector, Segment *out) {
  if ((selector & ~3u) == 0) return false;  // the null selector
  uint32_t index = selector & ~7u;
  if (index + 7 > m.cpu.gdtr_limit) return false;
  uint32_t at = m.cpu.gdtr_base + index, dl, dh;
  if (!read_linear(m, at, 4, &dl) || !read_linear(m, at + 4, 4, &dh)) return false;
  out->set_descriptor(dl, dh);
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

namespace {

void power_on(Machine &m) {
  m.cpu = Cpu();
  Cpu &c = m.cpu;
  for (int s = ES; s <= GS; ++s) load_real_segment(c.seg[s], 0);
  c.seg[CS].access = 0x9b;  // present, readable code, accessed
  load_real_segment(c.seg[CS], bios::kResetSegment);
  c.eip = bios::kResetOffset;
  c.seg[LDTR].access = 0x82;  // present LDT
  c.seg[TR].access = 0x8b;    // present busy 386 TSS
  bios::install(m.mem);
}

}  // namespace

void reset(Machine &m) {
  power_on(m);
  m.ticks = 0;
}

bool load_boot_image(Machine &m, const uint8_t *data, size_t size) {
  const size_t room = kMemorySize - bios::kBootAddress;
  bool whole = size <= room;
  m.boot_image.assign(data, data + (whole ? size : room));
  m.mem.load(bios::kBootAddress, m.boot_image.data(), m.boot_image.size());
  return whole;
}

void reboot(Machine &m) {
  power_on(m);
  m.mem.load(bios::kBootAddress, m.boot_image.data(), m.boot_image.size());
}

}  // namespace sim
