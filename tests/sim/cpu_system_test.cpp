// The processor's system side, instruction by instruction: I/O ports and
// the console, the descriptor table registers, control registers, the task
// register, interrupt and trap gates in protected mode, the double and
// triple fault rules, faults that take their instruction back, paging, and
// the magic breakpoint event.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bios.hpp"
#include "cpu.hpp"
#include "machine.hpp"

using namespace sim;

namespace {

std::vector<uint8_t> bytes_of(const std::string &hex) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

void put(Machine &m, uint32_t address, const std::string &hex) {
  std::vector<uint8_t> v = bytes_of(hex);
  m.mem.load(address, v.data(), v.size());
}

// Real mode at 0000:1000, stack 0000:8000.
void real_machine(Machine &m, const std::string &code) {
  m = Machine();
  reset(m);
  for (int s : {CS, DS, ES, SS}) load_real_segment(m.cpu.seg[s], 0);
  m.cpu.eip = 0x1000;
  m.cpu.regs[ESP] = 0x8000;
  put(m, 0x1000, code);
}

void steps(Machine &m, unsigned n) {
  for (unsigned i = 0; i < n; ++i) step(m);
}

// Protected mode, flat 32-bit code (0x08) and data (0x10), a 16-bit code
// segment (0x18), a 386 TSS at 0x4000 (0x20); the IDT at 0x3000 with
// `vectors` entries, all zero; code at 0x2000, stack at 0x9000.
void protected_machine(Machine &m, const std::string &code, unsigned vectors = 0x30) {
  m = Machine();
  reset(m);
  Cpu &c = m.cpu;
  c.cr[0] |= kCr0Pe;
  c.gdtr_base = 0x1000;
  c.gdtr_limit = 0x27;
  put(m, 0x1000,
      "0000000000000000 ffff0000009acf00 ffff00000092cf00 ffff0000009a0000 6700004000890000");
  ASSERT_TRUE(read_descriptor(m, 0x08, &c.seg[CS]));
  for (int s : {SS, DS, ES}) ASSERT_TRUE(read_descriptor(m, 0x10, &c.seg[s]));
  c.idtr_base = 0x3000;
  c.idtr_limit = vectors * 8 - 1;
  c.eip = 0x2000;
  c.regs[ESP] = 0x9000;
  put(m, 0x2000, code);
}

// A gate in the IDT at 0x3000: `access` 0x8e (32-bit interrupt gate), 0x8f
// (32-bit trap gate), 0x86 (16-bit interrupt gate), 0x0e (not present).
void gate(Machine &m, unsigned vector, uint16_t selector, uint32_t offset, uint8_t access) {
  uint32_t at = 0x3000 + vector * 8;
  m.mem.write(at, 2, offset & 0xffff);
  m.mem.write(at + 2, 2, selector);
  m.mem.write(at + 4, 1, 0);
  m.mem.write(at + 5, 1, access);
  m.mem.write(at + 6, 2, offset >> 16);
}

TEST(Ports, WritesToE9GoToTheConsoleAndOtherPortsAreIgnored) {
  static Machine m;
  // mov al, 'A'; out 0xe9, al; out 0x80, al; mov al, 10; mov dx, 0xe9; out dx, al;
  // mov eax, 0x4342; out dx, ax (its low byte); out dx, eax
  real_machine(m, "b041 e6e9 e680 b00a bae900 ee 66b842430000 ef 66ef");
  steps(m, 9);
  EXPECT_EQ(m.console, std::string("A\nBB"));
  EXPECT_EQ(m.cpu.eip, 0x1015u);
}

TEST(Ports, ReadsGiveE9ForTheConsolePortAndAllOnesElsewhere) {
  struct Case {
    const char *code;
    uint32_t eax;
  } cases[] = {
      {"e4e9", 0x123456e9}, {"e460", 0x123456ff}, {"e5e9", 0x123400e9},  {"66e5e9", 0x000000e9},
      {"ec", 0x123456e9},   {"ed", 0x123400e9},   {"66ed", 0x000000e9},
  };
  for (const Case &c : cases) {
    static Machine m;
    real_machine(m, c.code);
    m.cpu.regs[EAX] = 0x12345678;
    m.cpu.regs[EDX] = 0xe9;
    step(m);
    EXPECT_EQ(m.cpu.regs[EAX], c.eax) << c.code;
  }
  static Machine m;
  real_machine(m, "ec");
  m.cpu.regs[EDX] = 0x1e9;  // all 16 bits of dx name the port
  step(m);
  EXPECT_EQ(m.cpu.regs[EAX] & 0xff, 0xffu);
}

TEST(DescriptorTables, LoadAndStoreTheirRegisters) {
  static Machine m;
  // lgdt [0x600]; lidt [0x606]; o32 lgdt [0x60c]; sgdt [0x700]; o32 sidt [0x708]
  real_machine(m, "0f01160006 0f011e0606 660f01160c06 0f01060007 660f010e0807");
  put(m, 0x600, "2700 44332211 ff01 00100000 3f00 88776655");
  steps(m, 2);
  EXPECT_EQ(m.cpu.gdtr_base, 0x00223344u);  // 16-bit operand: 24 bits of base
  EXPECT_EQ(m.cpu.gdtr_limit, 0x27u);
  EXPECT_EQ(m.cpu.idtr_base, 0x1000u);
  EXPECT_EQ(m.cpu.idtr_limit, 0x1ffu);
  steps(m, 3);
  EXPECT_EQ(m.cpu.gdtr_base, 0x55667788u);
  EXPECT_EQ(m.cpu.gdtr_limit, 0x3fu);
  EXPECT_EQ(m.mem.read(0x700, 2), 0x3fu);
  EXPECT_EQ(m.mem.read(0x702, 4), 0x00667788u);
  EXPECT_EQ(m.mem.read(0x708, 2), 0x1ffu);
  EXPECT_EQ(m.mem.read(0x70a, 4), 0x1000u);
  EXPECT_EQ(m.cpu.eip, 0x101bu);
}

TEST(ControlRegisters, MovesSmswLmswAndClts) {
  static Machine m;
  // mov eax, cr0; mov cr3, ebx; mov cr4, ebx; mov ecx, cr3; mov cr2, ebx; smsw dx
  real_machine(m, "0f20c0 0f22db 0f22e3 0f20d9 0f22d3 0f01e2");
  m.cpu.regs[EBX] = 0x00012345;
  m.cpu.regs[EDX] = 0xffffffff;
  steps(m, 6);
  EXPECT_EQ(m.cpu.regs[EAX], 0x10u);
  EXPECT_EQ(m.cpu.cr[3], 0x12345u);
  EXPECT_EQ(m.cpu.cr[4], 0x12345u);
  EXPECT_EQ(m.cpu.cr[2], 0x12345u);
  EXPECT_EQ(m.cpu.regs[ECX], 0x12345u);
  EXPECT_EQ(m.cpu.regs[EDX], 0xffff0010u);
  // lmsw sets TS and PE but cannot clear PE; clts clears TS; cr0 keeps ET.
  real_machine(m, "0f01f0 0f01f3 0f06 0f22c3");
  m.cpu.regs[EAX] = 0x0009;
  m.cpu.regs[EBX] = 0x0008;
  step(m);
  EXPECT_EQ(m.cpu.cr[0], 0x19u);
  step(m);
  EXPECT_EQ(m.cpu.cr[0], 0x19u);
  step(m);
  EXPECT_EQ(m.cpu.cr[0], 0x11u);
  step(m);  // mov cr0, ebx clears PE; ET stays
  EXPECT_EQ(m.cpu.cr[0], 0x18u);
}

TEST(ControlRegisters, PagingWithoutProtectionIsAGeneralProtectionFault) {
  static Machine m;
  real_machine(m, "0f22c0");  // mov cr0, eax
  m.cpu.regs[EAX] = 0x80000010;
  step(m);
  // Through vector 13 of the real-mode table to the BIOS's iret.
  EXPECT_EQ(m.cpu.cr[0], 0x10u);
  EXPECT_EQ(m.cpu.seg[CS].selector, bios::kResetSegment);
  EXPECT_EQ(m.cpu.eip, bios::kIretStub);
  EXPECT_EQ(m.mem.read(0x7ffa, 2), 0x1000u);  // the faulting instruction
}

TEST(TaskRegister, LtrLoadsAndMarksTheTssBusy) {
  static Machine m;
  protected_machine(m, "66b82000 0f00d8 0f00c9");  // mov ax, 0x20; ltr ax; str cx
  m.cpu.regs[ECX] = 0xffffffff;
  steps(m, 3);
  EXPECT_EQ(m.cpu.seg[TR].selector, 0x20);
  EXPECT_EQ(m.cpu.seg[TR].base, 0x4000u);
  EXPECT_EQ(m.cpu.seg[TR].limit, 0x67u);
  EXPECT_EQ(m.cpu.seg[TR].access, 0x8b);
  EXPECT_EQ(m.mem.read8(0x1025), 0x8b);  // in the table too
  EXPECT_EQ(m.cpu.regs[ECX], 0x20u);
  // A busy TSS, or a code segment, cannot be loaded.
  for (const char *sel : {"20", "08"}) {
    protected_machine(m, std::string("66b8") + sel + "00 0f00d8");
    gate(m, 13, 0x08, 0x5000, 0x8e);
    if (std::string(sel) == "20") m.mem.write8(0x1025, 0x8b);
    steps(m, 2);
    EXPECT_EQ(m.cpu.eip, 0x5000u) << sel;
    EXPECT_EQ(m.mem.read(0x8ff0, 4), uint32_t(std::stoul(sel, nullptr, 16))) << "error code";
  }
}

TEST(Gates, InterruptTrapAnd16BitGates) {
  static Machine m;
  protected_machine(m, "cd20");
  m.cpu.eflags = 0x2 | IF | TF;
  gate(m, 0x20, 0x08, 0x00045000, 0x8e);  // 32-bit interrupt gate, offset above 64 KiB
  step(m);
  EXPECT_EQ(m.cpu.eip, 0x45000u);
  EXPECT_EQ(m.cpu.seg[CS].selector, 0x08);
  EXPECT_EQ(m.cpu.eflags, 0x2u);  // IF and TF cleared
  EXPECT_EQ(m.cpu.regs[ESP], 0x8ff4u);
  EXPECT_EQ(m.mem.read(0x8ff4, 4), 0x2002u);
  EXPECT_EQ(m.mem.read(0x8ff8, 4), 0x08u);
  EXPECT_EQ(m.mem.read(0x8ffc, 4), 0x2u | IF | TF);

  protected_machine(m, "cd21");
  m.cpu.eflags = 0x2 | IF;
  gate(m, 0x21, 0x08, 0x5000, 0x8f);  // trap gate: IF stays
  step(m);
  EXPECT_EQ(m.cpu.eip, 0x5000u);
  EXPECT_EQ(m.cpu.eflags, 0x2u | IF);

  // A 16-bit gate into 16-bit code pushes words; iret there comes back.
  protected_machine(m, "cd22 90");
  m.cpu.eflags = 0x2 | IF;
  gate(m, 0x22, 0x18, 0x5000, 0x86);
  put(m, 0x5000, "cf");  // iret (16-bit)
  step(m);
  EXPECT_EQ(m.cpu.seg[CS].selector, 0x18);
  EXPECT_FALSE(m.cpu.code32());
  EXPECT_EQ(m.cpu.regs[ESP], 0x8ffau);
  EXPECT_EQ(m.mem.read(0x8ffa, 2), 0x2002u);
  EXPECT_EQ(m.mem.read(0x8ffc, 2), 0x08u);
  EXPECT_EQ(m.mem.read(0x8ffe, 2), 0x2u | IF);
  step(m);
  EXPECT_EQ(m.cpu.seg[CS].selector, 0x08);
  EXPECT_TRUE(m.cpu.code32());
  EXPECT_EQ(m.cpu.eip, 0x2002u);
  EXPECT_EQ(m.cpu.regs[ESP], 0x9000u);
  EXPECT_EQ(m.cpu.eflags, 0x2u | IF);

  // iretd from a 32-bit handler.
  protected_machine(m, "cd20 90");
  gate(m, 0x20, 0x08, 0x5000, 0x8e);
  put(m, 0x5000, "cf");
  m.cpu.eflags = 0x2 | IF;
  steps(m, 2);
  EXPECT_EQ(m.cpu.eip, 0x2002u);
  EXPECT_EQ(m.cpu.regs[ESP], 0x9000u);
  EXPECT_EQ(m.cpu.eflags, 0x2u | IF);
}

// Which handler a fault ends in, with what error code on its stack.
struct FaultCase {
  const char *what;
  const char *code;
  std::vector<std::pair<unsigned, uint8_t>> gates;  // vector, access; all to 0008:(0x5000 + vector * 16)
  unsigned vector;                                  // the handler reached
  uint32_t error;                                   // the error code it finds
};

TEST(Faults, TheDoubleFaultRule) {
  const FaultCase cases[] = {
      {"a gate not present: #NP with the IDT bit", "cd23", {{0x23, 0x0e}, {11, 0x8e}}, 11, 0x23 * 8 + 2},
      {"a vector beyond the IDT: #GP", "cd40", {{13, 0x8e}}, 13, 0x40 * 8 + 2},
      {"not a gate: #GP", "cd24", {{0x24, 0x92}, {13, 0x8e}}, 13, 0x24 * 8 + 2},
      {"#GP whose gate is not present: #NP, contributory twice: #DF",
       "cd40",
       {{13, 0x0e}, {11, 0x8e}, {8, 0x8e}},
       8,
       0},
      {"int 3 through a gate not present: #NP is taken in turn", "cd03", {{3, 0x0e}, {11, 0x8e}, {8, 0x8e}}, 11,
       3 * 8 + 2},
      {"#UD whose gate is not present: benign first, #NP in turn", "0f0b", {{6, 0x0e}, {11, 0x8e}, {8, 0x8e}}, 11,
       6 * 8 + 2},
      {"a null CS: #GP(0)", "ea0050000000 00", {{13, 0x8e}}, 13, 0},
      {"a selector beyond the GDT: #GP(selector)", "66b83000 8ed8", {{13, 0x8e}}, 13, 0x30},
      {"a data segment not present: #NP(selector)", "66b81000 8ed8", {{11, 0x8e}}, 11, 0x10},
  };
  for (const FaultCase &c : cases) {
    SCOPED_TRACE(c.what);
    static Machine m;
    protected_machine(m, c.code);
    if (std::string(c.what).find("not present: #NP(selector)") != std::string::npos) m.mem.write8(0x1015, 0x12);
    for (auto g : c.gates) gate(m, g.first, 0x08, 0x5000 + g.first * 16, g.second);
    uint32_t first = 0x2000;
    if (std::string(c.code).size() > 8 && c.code[0] == '6') {  // a mov ax before the fault
      step(m);
      first = m.cpu.eip;
    }
    StepEvents events;
    EXPECT_EQ(step(m, nullptr, &events), StepResult::Executed);
    EXPECT_FALSE(events.reset);
    EXPECT_EQ(m.cpu.eip, 0x5000 + c.vector * 16);
    EXPECT_EQ(m.mem.read(0x8ff0, 4), c.error);
    // Every one returns to the instruction that raised it (the int too: its
    // own delivery failed).
    EXPECT_EQ(m.mem.read(0x8ff4, 4), first);
  }
}

TEST(Faults, ATripleFaultShutsDownOrReboots) {
  static Machine m;
  for (bool reboots : {false, true}) {
    SCOPED_TRACE(reboots);
    protected_machine(m, "cd40", 1);  // #GP, #GP, #DF: nothing in the IDT
    m.reset_on_triple_fault = reboots;
    m.boot_image = bytes_of("eb fe");
    m.mem.write8(0x7c00, 0x90);
    m.mem.write8(0x600, 0x55);
    m.ticks = 100;
    const Cpu before = m.cpu;
    StepEvents events;
    StepResult r = step(m, nullptr, &events);
    EXPECT_EQ(events.reset, reboots);
    if (!reboots) {
      EXPECT_EQ(r, StepResult::Idle);
      EXPECT_TRUE(m.cpu.shutdown);
      EXPECT_EQ(m.cpu.eip, before.eip);
      EXPECT_EQ(m.cpu.regs[ESP], before.regs[ESP]);
      EXPECT_EQ(m.ticks, 100u);
      EXPECT_EQ(step(m), StepResult::Idle);
      continue;
    }
    EXPECT_EQ(r, StepResult::Executed);
    EXPECT_EQ(m.ticks, 101u);
    EXPECT_FALSE(m.cpu.protected_mode());
    EXPECT_EQ(m.cpu.seg[CS].selector, bios::kResetSegment);
    EXPECT_EQ(m.cpu.eip, bios::kResetOffset);
    EXPECT_EQ(m.cpu.idtr_limit, 0x3ffu);
    EXPECT_EQ(m.mem.read(0x7c00, 2), 0xfeebu);  // the boot image again
    EXPECT_EQ(m.mem.read8(0x600), 0x55);        // the rest of memory kept
  }
}

TEST(Faults, RealModeIntBeyondTheVectorTableLimitIsATripleFault) {
  static Machine m;
  real_machine(m, "cd03");
  m.cpu.idtr_limit = 0;
  StepEvents events;
  EXPECT_EQ(step(m, nullptr, &events), StepResult::Idle);
  EXPECT_TRUE(m.cpu.shutdown);
  EXPECT_EQ(m.cpu.regs[ESP], 0x8000u);
  // A limit that covers vector 3 but not 13 or 8: the int goes through.
  real_machine(m, "cd03");
  m.cpu.idtr_limit = 0x0f;
  step(m);
  EXPECT_FALSE(m.cpu.shutdown);
  EXPECT_EQ(m.cpu.eip, bios::kIretStub);
}

// Paging: the page directory at 0x20000, identity for 0x0000-0x9fff except
// the page at 0x8000, which is not present.
void paged_machine(Machine &m, const std::string &code) {
  protected_machine(m, code);
  m.cpu.cr[0] |= kCr0Pg;
  m.cpu.cr[3] = 0x20000;
  m.mem.write(0x20000, 4, 0x21003);
  for (uint32_t page = 0; page < 10; ++page)
    if (page != 8) m.mem.write(0x21000 + page * 4, 4, page << 12 | 3);
}

TEST(Faults, APageFaultTakesTheWholeInstructionBack) {
  static Machine m;
  // call far 0008:00002010 with esp = 0x9004: the first push (CS) lands at
  // 0x9000, the second (the return address) in the page that is not there.
  paged_machine(m, "9a10200000 0800");
  m.cpu.regs[ESP] = 0x9004;
  m.mem.write(0x9000, 4, 0xaabbccdd);
  gate(m, 14, 0x08, 0x5000, 0x8e);
  AccessLog log;
  step(m, &log);
  // The fault's own pushes fault the same way: #PF, #PF (a double fault),
  // and the double fault's delivery faults: shut down, nothing changed.
  EXPECT_TRUE(m.cpu.shutdown);
  EXPECT_EQ(m.mem.read(0x9000, 4), 0xaabbccddu);
  EXPECT_EQ(m.cpu.regs[ESP], 0x9004u);
  EXPECT_EQ(m.cpu.eip, 0x2000u);
  EXPECT_EQ(m.cpu.cr[2], 0x8ffcu);
  EXPECT_EQ(log.count, 0u);
  // With room for the frame on the stack the fault is delivered: CR2, the
  // error code (a read), the faulting instruction.
  paged_machine(m, "ff2d00800000");  // jmp far [0x8000]
  m.cpu.regs[ESP] = 0x9800;
  gate(m, 14, 0x08, 0x5000, 0x8e);
  step(m);
  EXPECT_EQ(m.cpu.eip, 0x5000u);
  EXPECT_EQ(m.cpu.cr[2], 0x8000u);
  EXPECT_EQ(m.cpu.regs[ESP], 0x97f0u);
  EXPECT_EQ(m.mem.read(0x97f0, 4), 0u);
  EXPECT_EQ(m.mem.read(0x97f4, 4), 0x2000u);
}

TEST(Faults, AFaultInTheMiddleOfARepeatedInstructionLeavesTheCountAsItWas) {
  static Machine m;
  // rep stosb from 0x7ffe with ecx = 4: two bytes, then the missing page.
  paged_machine(m, "f3aa");
  m.cpu.regs[ESP] = 0x9800;
  m.cpu.regs[EDI] = 0x7ffe;
  m.cpu.regs[ECX] = 4;
  m.cpu.regs[EAX] = 0x77;
  gate(m, 14, 0x08, 0x5000, 0x8e);
  EXPECT_EQ(step(m), StepResult::Repeating);
  EXPECT_EQ(step(m), StepResult::Repeating);
  step(m);
  EXPECT_EQ(m.cpu.eip, 0x5000u);
  EXPECT_EQ(m.mem.read(0x97f4, 4), 0x2000u);  // back to the rep stosb
  EXPECT_EQ(m.cpu.regs[ECX], 2u);
  EXPECT_EQ(m.cpu.regs[EDI], 0x8000u);
  EXPECT_EQ(m.cpu.cr[2], 0x8000u);
  EXPECT_EQ(m.mem.read(0x97f0, 4), 2u);  // a write
  EXPECT_EQ(m.mem.read(0x7ffe, 2), 0x7777u);
}

TEST(Paging, TranslationOfFourKilobyteAndFourMegabytePages) {
  static Machine m;
  m = Machine();
  reset(m);
  uint32_t p = 0;
  EXPECT_TRUE(translate(m, 0x12345678, &p));  // paging off: the same
  EXPECT_EQ(p, 0x12345678u);
  m.cpu.cr[0] = kCr0Pe | kCr0Pg | kCr0Et;
  m.cpu.cr[3] = 0x10000;
  m.mem.write(0x10000 + 0 * 4, 4, 0x11007);     // page table at 0x11000
  m.mem.write(0x10000 + 1 * 4, 4, 0x00c00083);  // a 4 MiB page at 0xc00000
  m.mem.write(0x11000 + 5 * 4, 4, 0x00abc001);  // linear 0x5000 -> 0xabc000
  const struct {
    uint32_t linear;
    bool present;
    uint32_t physical;
  } cases[] = {
      {0x5123, true, 0xabc123}, {0x6000, false, 0}, {0x00400000, true, 0xc00000}, {0x007fffff, true, 0xffffff},
      {0x00800000, false, 0},   {0xfffff000, false, 0},
  };
  for (bool pse : {true, false}) {
    m.cpu.cr[4] = pse ? kCr4Pse : 0;
    for (const auto &c : cases) {
      bool big = c.linear >= 0x00400000 && c.linear < 0x00800000;
      bool present = translate(m, c.linear, &p);
      // Without PSE the big entry points at a page table of zeros.
      EXPECT_EQ(present, c.present && (pse || !big)) << std::hex << c.linear << " pse " << pse;
      if (present) {
        EXPECT_EQ(p, c.physical) << std::hex << c.linear;
      }
    }
  }
  // Paging needs protection too.
  m.cpu.cr[0] = kCr0Pg | kCr0Et;
  EXPECT_TRUE(translate(m, 0x6000, &p));
  EXPECT_EQ(p, 0x6000u);
}

TEST(MagicBreakpoint, OnlyXchgBxBxIsReported) {
  struct Case {
    const char *code;
    bool code32;
    bool magic;
  } cases[] = {
      {"87db", false, true},  {"6687db", true, true},  {"6687db", false, false}, {"87db", true, false},
      {"86db", false, false}, {"87d9", false, false},  {"90", false, false},
  };
  for (const Case &c : cases) {
    static Machine m;
    if (c.code32)
      protected_machine(m, c.code);
    else
      real_machine(m, c.code);
    StepEvents events;
    step(m, nullptr, &events);
    EXPECT_EQ(events.magic, c.magic) << c.code << (c.code32 ? " in 32-bit code" : "");
  }
}

}  // namespace
