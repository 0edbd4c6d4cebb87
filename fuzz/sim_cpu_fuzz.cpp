// Runs arbitrary bytes on the simulated PC's processor. The first byte
// chooses the mode (bit 0: protected mode with flat 32-bit segments, bit 1:
// paging as well, bit 2: reboot on a triple fault); the rest is the code
// at 0x7c00 and also the interrupt table (at 0x3000) and the page directory
// (at 0x10000), so that gates, faults and translations come from the input
// too. Every step's current-instruction line and disassembly are written,
// as the debugger would.
#include <cstdint>

#include "cpu.hpp"
#include "machine.hpp"
#include "replies.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  // One machine for all inputs (a new 16 MiB each time would be most of
  // the work), cleared to its power-on state.
  static sim::Machine *m = new sim::Machine;
  m->mem.clear();
  m->console.clear();
  m->boot_image.clear();
  sim::reset(*m);
  const uint8_t mode = data[0];
  m->reset_on_triple_fault = mode & 4;
  sim::load_boot_image(*m, data + 1, size - 1);
  m->mem.load(0x3000, data + 1, size - 1);
  m->mem.load(0x10000, data + 1, size - 1);
  sim::Cpu &c = m->cpu;
  load_real_segment(c.seg[sim::CS], 0);
  c.eip = 0x7c00;
  if (mode & 3) {
    static const uint8_t gdt[] = {0,    0,    0, 0, 0, 0,    0,    0, 0xff, 0xff, 0, 0,
                                  0,    0x9a, 0xcf, 0, 0xff, 0xff, 0, 0, 0,    0x92, 0xcf, 0};
    m->mem.load(0x1000, gdt, sizeof gdt);
    c.cr[0] |= sim::kCr0Pe;
    c.gdtr_base = 0x1000;
    c.gdtr_limit = sizeof gdt - 1;
    c.idtr_base = 0x3000;
    c.idtr_limit = 0x7ff;
    sim::read_descriptor(*m, 0x08, &c.seg[sim::CS]);
    for (int s : {sim::SS, sim::DS, sim::ES, sim::FS, sim::GS}) sim::read_descriptor(*m, 0x10, &c.seg[s]);
    c.regs[sim::ESP] = 0x9000;
  }
  if (mode & 2) {
    c.cr[0] |= sim::kCr0Pg;
    c.cr[3] = 0x10000;
    c.cr[4] = mode & 8 ? sim::kCr4Pse : 0;
  }
  for (int i = 0; i < 500; ++i) {
    std::string line = sim::reply::instruction_line(*m);
    sim::AccessLog log;
    sim::StepEvents events;
    if (sim::step(*m, &log, &events) == sim::StepResult::Idle) break;
    if (m->console.size() > 4096) m->console.clear();
  }
  std::string dump = sim::reply::dump_cpu(m->cpu);
  return 0;
}
