// The register dump scanner, the panel's texts and the stack arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text/cpu_scan.hpp"

namespace {

// A whole reply, every value distinct, in the layout the debugger writes.
const char *const full_reply =
    "eax:0x00000001\nebx:0x00000002\necx:0x00000003\nedx:0x00000004\nebp:0x00000005\n"
    "esi:0x00000006\nedi:0x00000007\nesp:0x00000008\neflags:0x00000202\neip:0x00007c00\n"
    "cs:s=0x0008, dl=0x0000ffff, dh=0x00cf9b00, valid=1\n"
    "ss:s=0x0010, dl=0x0000ffff, dh=0x00cf9300, valid=1\n"
    "ds:s=0x0018, dl=0x1, dh=0x2, valid=0\n"
    "es:s=0x0020, dl=0x3, dh=0x4, valid=1\n"
    "fs:s=0x0028, dl=0x5, dh=0x6, valid=1\n"
    "gs:s=0x0030, dl=0x7, dh=0x8, valid=1\n"
    "ldtr:s=0x0038, dl=0x9, dh=0xa, valid=1\n"
    "tr:s=0x0040, dl=0xb, dh=0xc, valid=1\n"
    "gdtr:base=0x00001000, limit=0x27\nidtr:base=0x00002000, limit=0x7ff\n"
    "dr0:0x10\ndr1:0x11\ndr2:0x12\ndr3:0x13\ndr6:0x16\ndr7:0x17\n"
    "tr3:0x23\ntr4:0x24\ntr5:0x25\ntr6:0x26\ntr7:0x27\n"
    "cr0:0x60000011\ncr1:0x31\ncr2:0x32\ncr3:0x33\ncr4:0x34\ninhibit_mask:5\ndone\n";

// A state whose every field shows whether a scan wrote it.
CpuState marked() {
  CpuState c;
  memset(&c, 0xEE, sizeof c);
  return c;
}

const uint32_t untouched = 0xEEEEEEEE;

}  // namespace

TEST(ScanCpuState, AWholeReplyFillsEverySixtyThreeFields) {
  CpuState c = marked();
  EXPECT_EQ(scan_cpu_state(full_reply, &c), 63);
  EXPECT_EQ(c.eax, 1u);
  EXPECT_EQ(c.esp, 8u);
  EXPECT_EQ(c.eflags, 0x202u);
  EXPECT_EQ(c.eip, 0x7C00u);
  EXPECT_EQ(c.cs.selector, 8u);
  EXPECT_EQ(c.cs.dh, 0x00CF9B00u);
  EXPECT_EQ(c.ss.valid, 1u);
  EXPECT_EQ(c.ds.valid, 0u);
  EXPECT_EQ(c.tr.dh, 0xCu);
  EXPECT_EQ(c.gdtr.base, 0x1000u);
  EXPECT_EQ(c.gdtr.limit, 0x27u);
  EXPECT_EQ(c.idtr.limit, 0x7FFu);
  EXPECT_EQ(c.dr[3], 0x13u);
  EXPECT_EQ(c.dr[4], untouched) << "DR4 and DR5 are not in the reply";
  EXPECT_EQ(c.dr[5], untouched);
  EXPECT_EQ(c.dr[6], 0x16u);
  EXPECT_EQ(c.dr[7], 0x17u);
  EXPECT_EQ(c.tr3, 0x23u);
  EXPECT_EQ(c.tr7, 0x27u);
  EXPECT_EQ(c.cr0, 0x60000011u);
  EXPECT_EQ(c.cr4, 0x34u);
  EXPECT_EQ(c.inhibit_mask, 5u);
}

TEST(ScanCpuState, APartialReplyUpdatesOnlyTheFieldsBeforeTheMismatch) {
  struct Case {
    const char *what;
    std::string reply;
    int stored;
  } cases[] = {
      {"nothing", "", 0},
      {"an error text", ":1: syntax error at 'dump_cpu'\n", 0},
      {"cut inside the general registers", std::string(full_reply).substr(0, 48), 3},
      {"a register out of order", "eax:1\nebx:2\necx:3\nesi:4\n", 3},
      {"a valid flag in hex", "eax:1\nebx:2\necx:3\nedx:4\nebp:5\nesi:6\nedi:7\nesp:8\neflags:2\n"
                              "eip:3\ncs:s=8, dl=0, dh=0, valid=0x1\n", 14},
      {"no \"0x\" and odd blanks are accepted",
       "  eax:1 ebx:2\n\n ecx: 3 edx :4\n", 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CpuState s = marked();
    int n = scan_cpu_state(c.reply.c_str(), &s);
    EXPECT_EQ(n, c.stored);
    const uint32_t *in_order[] = {&s.eax, &s.ebx, &s.ecx, &s.edx, &s.ebp, &s.esi, &s.edi, &s.esp,
                                  &s.eflags, &s.eip, &s.cs.selector, &s.cs.dl, &s.cs.dh, &s.cs.valid,
                                  &s.ss.selector};
    for (int i = 0; i < 15; i++)
      if (i >= n) {
        EXPECT_EQ(*in_order[i], untouched) << "field " << i << " kept its value";
      }
  }
  CpuState s = marked();
  scan_cpu_state("eax:0x1234\nebx:99", &s);
  EXPECT_EQ(s.eax, 0x1234u);
  EXPECT_EQ(s.ebx, 0x99u) << "values are hexadecimal";
}

TEST(FormatRegister, SixteenBitRuleSegmentsAndTables) {
  CpuState c;
  memset(&c, 0, sizeof c);
  const uint32_t big = 1u << 22;
  struct Case {
    const char *what;
    uint32_t cr0, ss_dh, cs_dh, esp, eip;
    const char *esp_text, *eip_text;
  } cases[] = {
      {"real mode, below 0x10000", 0, big, big, 0xFFFE, 0x7C00, "FFFE", "7C00"},
      {"real mode, 0x10000", 0, 0, 0, 0x10000, 0x10000, "00010000", "00010000"},
      {"protected, B and D set", 1, big, big, 0x1000, 0x1000, "00001000", "00001000"},
      {"protected, B and D clear", 1, 0, 0, 0x1000, 0x1000, "1000", "1000"},
      {"EIP follows CS, not SS", 1, big, 0, 0x1000, 0x1000, "00001000", "1000"},
      {"ESP follows SS, not CS", 1, 0, big, 0x1000, 0x1000, "1000", "00001000"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    c.cr0 = k.cr0;
    c.ss.dh = k.ss_dh;
    c.cs.dh = k.cs_dh;
    c.esp = c.ebp = k.esp;
    c.eip = k.eip;
    char text[32];
    format_register(text, c, entry_esp);
    EXPECT_STREQ(text, k.esp_text);
    format_register(text, c, entry_ebp);
    EXPECT_STREQ(text, k.esp_text) << "EBP follows SS as ESP does";
    format_register(text, c, entry_eip);
    EXPECT_STREQ(text, k.eip_text);
  }
  char text[32];
  c.ds = SegmentState{0, 0, 0, 0};
  format_register(text, c, entry_ds);
  EXPECT_STREQ(text, "0000  invalid");
  c.tr = SegmentState{0x28, 0, 0, 1};
  format_register(text, c, entry_tr);
  EXPECT_STREQ(text, "0028  valid");
  c.gdtr = TableRegister{0x1000, 0x27};
  format_register(text, c, entry_gdtr);
  EXPECT_STREQ(text, "00001000  (00027)");
  c.eax = 0xABC;
  format_register(text, c, entry_eax);
  EXPECT_STREQ(text, "00000ABC");
  c.eflags = 0x202;
  format_register(text, c, entry_eflags);
  EXPECT_STREQ(text, "00000202");
  c.dr[6] = 0xFFFF0FF0;
  format_register(text, c, entry_dr6);
  EXPECT_STREQ(text, "FFFF0FF0");
  c.cr3 = 0x9000;
  format_register(text, c, entry_cr3);
  EXPECT_STREQ(text, "00009000");
}

TEST(EflagsRows, EachRowShowsItsBitsAndResumeNeverShowsSet) {
  int v[eflags_rows];
  eflags_row_values((1u << 1) | (1u << 9) | (1u << 12) | (1u << 13), v);
  for (int r = 0; r < eflags_rows; r++) {
    int want = r == 1 ? 1 : r == 9 ? 1 : r == 12 ? 3 : 0;
    EXPECT_EQ(v[r], want) << eflags_row_names[r] << " (row " << r + 1 << ")";
  }
  EXPECT_STREQ(eflags_row_names[9], "Interrupt");
  EXPECT_STREQ(eflags_row_names[12], "IOPL");
  eflags_row_values(1u << 16, v);
  EXPECT_STREQ(eflags_row_names[15], "Resume");
  for (int r = 0; r < eflags_rows; r++) EXPECT_EQ(v[r], 0) << r;
  // The four rows named "-" show bits 1, 3, 5 and 15 as they are.
  eflags_row_values((1u << 3) | (1u << 5) | (1u << 15) | (1u << 21) | (1u << 17), v);
  EXPECT_EQ(v[3], 1);
  EXPECT_EQ(v[5], 1);
  EXPECT_EQ(v[14], 1);
  EXPECT_STREQ(eflags_row_names[14], "-");
  EXPECT_EQ(v[16], 1);
  EXPECT_STREQ(eflags_row_names[16], "V86");
  EXPECT_EQ(v[20], 1);
  EXPECT_STREQ(eflags_row_names[20], "ID");
}

TEST(StackMode, BaseLimitAndWidth) {
  CpuState c;
  memset(&c, 0, sizeof c);
  // Real mode: a 16-bit stack at the selector times 16.
  c.ss.selector = 0x9000;
  StackMode m = stack_mode(c);
  EXPECT_FALSE(m.wide);
  EXPECT_EQ(m.base, 0x90000u);
  EXPECT_EQ(m.size, 2u);
  // Protected mode, B clear: a 16-bit stack, its base from the descriptor
  // (selector 0x10, base 0), not the selector times 16.
  c.cr0 = 1;
  c.ss.selector = 0x10;
  c.ss.dl = 0x0000FFFF;
  c.ss.dh = 0x00009300;
  m = stack_mode(c);
  EXPECT_FALSE(m.wide);
  EXPECT_EQ(m.base, 0u);
  EXPECT_TRUE(m.base_ok);
  // In virtual-8086 mode the selector times 16 again.
  c.eflags = 1u << 17;
  c.ss.selector = 0x9000;
  m = stack_mode(c);
  EXPECT_EQ(m.base, 0x90000u);
  c.eflags = 0;
  // A flat 32-bit stack: base 0, limit 0xFFFFF.
  c.ss.dl = 0x0000FFFF;
  c.ss.dh = 0x00CF9300;
  m = stack_mode(c);
  EXPECT_TRUE(m.wide);
  EXPECT_TRUE(m.base_ok);
  EXPECT_EQ(m.base, 0u);
  EXPECT_EQ(m.size, 4u);
  // Base 0x12345678 is taken apart and put together again.
  c.ss.dl = 0x56780000;
  c.ss.dh = 0x12409334;
  m = stack_mode(c);
  EXPECT_EQ(m.base, 0x12345678u);
  EXPECT_TRUE(m.base_ok);
  // Base 0x1000 with 0xFFFFF pages overflows 32 bits.
  c.ss.dl = 0x1000FFFF;
  c.ss.dh = 0x00CF9300;
  m = stack_mode(c);
  EXPECT_EQ(m.base, 0x1000u);
  EXPECT_FALSE(m.base_ok);
  // A byte-granular 1 MiB 32-bit stack at 8 MiB fits.
  c.ss.dl = 0x0000FFFF;
  c.ss.dh = 0x004F9380;
  m = stack_mode(c);
  EXPECT_TRUE(m.wide);
  EXPECT_EQ(m.base, 0x800000u);
  EXPECT_TRUE(m.base_ok);
}

TEST(StackWalk, BoundsWrapAndTheLimitOnCounts) {
  struct Case {
    uint32_t esp, above, below, size, lo, hi;
  } cases[] = {
      {0x1000, 8, 4, 4, 0x1000 - 16, 0x1000 + 32},
      {4, 8, 4, 4, 0, 36},                       // below would pass offset 0
      {3, 8, 4, 2, 0, 19},
      {0x500, 0, 0, 2, 0x500, 0x500},            // TOS alone
      {0xFFFFFFF0, 8, 4, 4, 0xFFFFFFE0, 0x10},   // hi wraps below lo
      {0x100000, 0xFFFFFFFF, 0xFFFFFFFF, 4,      // counts gone wild are bounded
       0x100000 - 4 * stack_walk_limit, 0x100000 + 4 * stack_walk_limit},
  };
  for (const Case &c : cases) {
    StackWalk w = stack_walk(c.esp, c.above, c.below, c.size);
    EXPECT_EQ(w.lo, c.lo) << c.esp;
    EXPECT_EQ(w.hi, c.hi) << c.esp;
  }
}

TEST(ScanStackValue, TwoWordsThenTheValue) {
  struct Case {
    const char *text;
    bool ok;
    uint32_t value;
  } cases[] = {
      {" 0x00007000 <bogus+0>:\t0x1234\n", true, 0x1234},
      {"0x00090000 <bogus+0>:\t0x12345678\n", true, 0x12345678},
      {"a b 0xffff", true, 0xFFFF},
      {"", false, 0},
      {" 0x00007000\n", false, 0},
      {"Error: read past the end of memory (0x01000000): 2 bytes at 0x00ffffff\n", false, 0},
      {"a b 1234", false, 0},
  };
  for (const Case &c : cases) {
    uint32_t v = 77;
    EXPECT_EQ(scan_stack_value(c.text, &v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 77u) << c.text;
  }
  char out[12];
  format_offset(out, 0x1020, 0x1000);
  EXPECT_STREQ(out, "+32");
  format_offset(out, 0x0FF0, 0x1000);
  EXPECT_STREQ(out, "-16");
  format_offset(out, 0, 0xFFFFFFFF);
  EXPECT_STREQ(out, "+1");
}
