// The processor's mode as a stop's registers give it, and the linear address
// of the code segment.
#include <gtest/gtest.h>

#include "text/cpu_mode.hpp"

namespace {

CpuState registers(uint32_t cr0, uint32_t eflags, uint32_t cs, uint32_t dl, uint32_t dh) {
  CpuState cpu = {};
  cpu.cr0 = cr0;
  cpu.eflags = eflags;
  cpu.cs = SegmentState{cs, dl, dh, 1};
  return cpu;
}

}  // namespace

TEST(CpuMode, ModesPagingAndTheCodeSegment) {
  struct Case {
    const char *what;
    CpuState cpu;
    const char *described;
    uint32_t base;
    bool code16;
  } cases[] = {
      {"reset", registers(0x60000010, 0x2, 0xf000, 0xffff, 0xff009bff), "Real mode, paging off", 0xf0000, true},
      {"boot sector", registers(0x10, 0x246, 0x0000, 0xffff, 0x9b00), "Real mode, paging off", 0, true},
      {"real mode ignores the descriptor's D bit and base", registers(0x10, 0x2, 0x07c0, 0x1234ffff, 0x56cf9b78),
       "Real mode, paging off", 0x7c00, true},
      {"PG without PE is not paging", registers(0x80000010, 0x2, 0, 0xffff, 0x9b00), "Real mode, paging off", 0,
       true},
      {"flat 32-bit code", registers(0x11, 0x2, 0x0008, 0x0000ffff, 0x00cf9b00), "Protected mode, 32-bit, paging off",
       0, false},
      {"32-bit code, paging on", registers(0x80000011, 0x2, 0x0008, 0x0000ffff, 0x00cf9b00),
       "Protected mode, 32-bit, paging on", 0, false},
      {"16-bit code with a base", registers(0x11, 0x2, 0x0020, 0x7c00ffff, 0x00009b00),
       "Protected mode, 16-bit, paging off", 0x7c00, true},
      {"every byte of the base", registers(0x80000011, 0x2, 0x0010, 0x5678ffff, 0x12cf9b34),
       "Protected mode, 32-bit, paging on", 0x12345678, false},
      {"virtual-8086", registers(0x80000011, 0x20202, 0xb800, 0x0000ffff, 0x00cff300), "Virtual-8086 mode, paging on",
       0xb8000, true},
      {"VM without PE is real mode", registers(0x10, 0x20202, 0x1000, 0xffff, 0x9b00), "Real mode, paging off",
       0x10000, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(describe_cpu_mode(c.cpu), c.described);
    EXPECT_EQ(code_segment_base(c.cpu), c.base);
    EXPECT_EQ(code_is_16bit(c.cpu), c.code16);
  }
}

TEST(CpuMode, StatusLineCarriesTheTicksWhenTheStopGaveThem) {
  CpuState cpu = registers(0x11, 0x2, 0x8, 0xffff, 0x00cf9b00);
  EXPECT_EQ(format_status_line(cpu, true, 6194), "Protected mode, 32-bit, paging off    t=6194");
  EXPECT_EQ(format_status_line(cpu, true, 18446744073709551615ull),
            "Protected mode, 32-bit, paging off    t=18446744073709551615");
  EXPECT_EQ(format_status_line(cpu, false, 5), "Protected mode, 32-bit, paging off");
}
