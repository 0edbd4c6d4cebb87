// Protected mode set up by a state file: descriptors loaded from the global
// descriptor table, 32-bit code and stack, the 8-digit offsets of a 32-bit
// code segment, far jumps through the table, virtual breakpoints by
// selector, and the shutdown on an interrupt.
#include "sim_process.hpp"

using simtest::Sim;
using simtest::SimConfig;
using simtest::TempDir;

namespace {

const char kState[] =
    "cr0 0x11\n"
    "gdtr.base 0x1000\n"
    "gdtr.limit 0x1f\n"
    "mem 0x1000 0000000000000000\n"
    "mem 0x1008 ffff0000009acf00\n"  // 0008: flat 32-bit code
    "mem 0x1010 ffff00000092cf00\n"  // 0010: flat 32-bit data
    "mem 0x1018 ffff0000019a0000\n"  // 0018: 16-bit code at 0x10000
    "cs.selector 0x08\n"
    "ss.selector 0x10\n"
    "ds.selector 0x10\n"
    "es.selector 0x10\n"
    "esp 0x9000\n"
    "ebp 0x9010\n"
    "eip 0x2000\n"
    // 2000 mov eax, 0x12345678; 2005 push eax; 2006 inc eax; 2007 mov bx, ax
    // 200a mov ecx, [esp]; 200d mov [ebp-8], eax; 2010 jmp far 0018:0100
    "mem 0x2000 b878563412 50 40 6689c3 8b0c24 8945f8 ea000100001800\n"
    // 0018:0100 mov ax, 0x1234; int 0x10
    "mem 0x10100 b83412 cd10\n";

struct Protected {
  TempDir dir;
  std::string state = dir.write("state", kState);
  std::string transcript = dir.file("t");
  Sim sim{SimConfig{{{"VUM_SIM_STATE", state}, {"VUM_SIM_TRANSCRIPT", transcript}}, {"-q"}}};
};

const char *const kLines[] = {
    "(0) [0x00002000] 0008:00002000 (unk. ctxt): mov eax, 0x12345678      ; b878563412\n",
    "(0) [0x00002005] 0008:00002005 (unk. ctxt): push eax                 ; 50\n",
    "(0) [0x00002006] 0008:00002006 (unk. ctxt): inc eax                  ; 40\n",
    "(0) [0x00002007] 0008:00002007 (unk. ctxt): mov bx, ax               ; 6689c3\n",
    "(0) [0x0000200a] 0008:0000200a (unk. ctxt): mov ecx, dword ptr ss:[esp] ; 8b0c24\n",
    "(0) [0x0000200d] 0008:0000200d (unk. ctxt): mov dword ptr ss:[ebp-0x8], eax ; 8945f8\n",
    "(0) [0x00002010] 0008:00002010 (unk. ctxt): jmp far 0x0018:0x00000100 ; ea000100001800\n",
    "(0) [0x00010100] 0018:0100 (unk. ctxt): mov ax, 0x1234           ; b83412\n",
    "(0) [0x00010103] 0018:0103 (unk. ctxt): int 0x10                 ; cd10\n",
};

std::string prompt(unsigned n) { return "<bochs:" + std::to_string(n) + "> "; }

TEST(Protected, SegmentsComeFromTheDescriptorTable) {
  Protected p;
  std::string start = p.sim.until_prompt();
  EXPECT_NE(start.find(std::string("Next at t=0\n") + kLines[0] + prompt(1)), std::string::npos) << start;
  std::string dump = p.sim.send("dump_cpu");
  for (const char *line : {"esp:0x00009000\neflags:0x00000002\neip:0x00002000\n",
                           "cs:s=0x0008, dl=0x0000ffff, dh=0x00cf9a00, valid=1\n",
                           "ss:s=0x0010, dl=0x0000ffff, dh=0x00cf9200, valid=1\n",
                           "ds:s=0x0010, dl=0x0000ffff, dh=0x00cf9200, valid=1\n",
                           "fs:s=0x0000, dl=0x0000ffff, dh=0x00009300, valid=1\n",
                           "gdtr:base=0x00001000, limit=0x1f\n", "cr0:0x00000011\n"})
    EXPECT_NE(dump.find(line), std::string::npos) << line;
}

TEST(Protected, StepsThrough32BitCodeIntoA16BitSegment) {
  Protected p;
  p.sim.until_prompt();
  unsigned n = 2;
  for (unsigned t = 1; t <= 8; ++t)
    EXPECT_EQ(p.sim.send("s"), "Next at t=" + std::to_string(t) + "\n" + kLines[t] + prompt(n++));
  std::string dump = p.sim.send("dump_cpu");
  ++n;
  // mov ax in the 16-bit segment leaves the upper half of eax.
  EXPECT_EQ(dump.substr(0, dump.find("eflags")),
            "eax:0x12341234\nebx:0x00005679\necx:0x12345678\nedx:0x00000000\nebp:0x00009010\n"
            "esi:0x00000000\nedi:0x00000000\nesp:0x00008ffc\n");
  EXPECT_NE(dump.find("eip:0x00000103\ncs:s=0x0018, dl=0x0000ffff, dh=0x00009a01, valid=1\n"), std::string::npos)
      << dump;
  EXPECT_EQ(p.sim.send("x /2wx 0x8ffc"), "0x00008ffc <bogus+0>:\t0x12345678\t0x00000000\n" + prompt(n++));
  EXPECT_EQ(p.sim.send("xp /1wx 0x9008"), "0x00009008 <bogus+0>:\t0x12345679\n" + prompt(n++));
}

TEST(Protected, AnInterruptShutsTheProcessorDownWhereItStands) {
  Protected p;
  p.sim.until_prompt();
  p.sim.send("s 8");
  const std::string stuck = std::string("Next at t=8\n") + kLines[8];
  EXPECT_EQ(p.sim.send("s"), stuck + prompt(3));
  p.sim.write_raw("c\n");
  simtest::wait_for_lines(p.transcript, 3);
  p.sim.interrupt();
  EXPECT_EQ(p.sim.until_prompt(), stuck + prompt(4));
}

TEST(Protected, VirtualBreakpointsUseTheSelectorsBase) {
  Protected p;
  p.sim.until_prompt();
  EXPECT_EQ(p.sim.send("vb 0x0008:0x2006"), prompt(2));  // the cached CS
  EXPECT_EQ(p.sim.send("vb 18:100"), prompt(3));         // from the table
  EXPECT_EQ(p.sim.send("vb 0x20:0"), "Error: selector 0x0020 is not in the descriptor table\n" + prompt(4));
  EXPECT_EQ(p.sim.send("vb 0:5"), "Error: selector 0x0000 is not in the descriptor table\n" + prompt(5));
  EXPECT_EQ(p.sim.send("info break"),
            "Num Type           Disp Enb Address\n"
            "  1 vbreakpoint    keep y   0x0008:0x00002006\n"
            "  2 vbreakpoint    keep y   0x0018:0x00000100\n" +
                prompt(6));
  EXPECT_EQ(p.sim.send("c"), std::string("(0) Breakpoint 1, 0x2006 in ?? ()\nNext at t=2\n") + kLines[2] + prompt(7));
  EXPECT_EQ(p.sim.send("c"), std::string("(0) Breakpoint 2, 0x10100 in ?? ()\nNext at t=7\n") + kLines[7] + prompt(8));
}

TEST(Protected, WatchpointsSeeThe32BitStackAndFrameAccesses) {
  Protected p;
  p.sim.until_prompt();
  p.sim.send("watch write 0x8ffe");
  p.sim.send("watch write 0x900b");
  EXPECT_EQ(p.sim.send("c"), std::string("(0) Caught write watch point at 0x00008ffe\nNext at t=2\n") + kLines[2] +
                                 prompt(4));
  EXPECT_EQ(p.sim.send("c"), std::string("(0) Caught write watch point at 0x0000900b\nNext at t=6\n") + kLines[6] +
                                 prompt(5));
}

}  // namespace
