// Paging set up by a state file, through real pipes: code running at a
// linear address whose page lies elsewhere, the physical address in the
// current-instruction line, linear, virtual and physical breakpoints,
// physical watchpoints, a 4 MiB page with and without CR4.PSE, and page
// faults (a write that crosses into a page not present, a fetch from one)
// delivered through the interrupt descriptor table with nothing of the
// faulting instruction left behind.
#include "sim_process.hpp"

using simtest::Sim;
using simtest::SimConfig;
using simtest::TempDir;

namespace {

std::string prompt(unsigned n) { return "<bochs:" + std::to_string(n) + "> "; }

// Pages: linear 0x00000000-0x00009FFF identity; 0x00400000 a 4 MiB page at
// physical 0x00800000; 0x00800000 at physical 0x13000, 0x00801000 not
// present, 0x00802000 at physical 0x14000.
std::string state(const char *cr4) {
  return std::string("cr0 0x80000011\ncr3 0x20000\ncr4 ") + cr4 +
         "\n"
         "gdtr.base 0x1000\ngdtr.limit 0x17\n"
         "idtr.base 0x3000\nidtr.limit 0x7f\n"
         "mem 0x1000 0000000000000000 ffff0000009acf00 ffff00000092cf00\n"
         // vector 14: 32-bit interrupt gate to 0008:00005000
         "mem 0x3070 0050 0800 008e 0000\n"
         "mem 0x20000 03100200 83008000 03200200\n"
         "mem 0x21000 03000000 03100000 03200000 03300000 03400000 03500000 03600000 03700000 03800000 03900000\n"
         "mem 0x22000 03300100 00000000 03400100\n"
         "cs.selector 0x08\nds.selector 0x10\nes.selector 0x10\nss.selector 0x10\n"
         "esp 0x9000\neip 0x800000\n"
         // 800000 mov eax, 0x11111111; 800005 mov [0x802000], eax;
         // 80000a mov ebx, [0x400010]; 800010 mov [0x800ffe], eax; 800015 jmp $
         "mem 0x13000 b811111111 a300208000 8b1d10004000 a3fe0f8000 ebfe\n"
         "mem 0x13ffe aab8\n"
         "mem 0x800010 0df0feca\n"
         // the page fault handler: pop ecx; mov edx, cr2; jmp $
         "mem 0x5000 59 0f20d2 ebfe\n";
}

struct Paged {
  TempDir dir;
  std::string transcript = dir.file("t");
  Sim sim;
  explicit Paged(const char *cr4 = "0x10")
      : sim(SimConfig{{{"VUM_SIM_STATE", dir.write("state", state(cr4))}, {"VUM_SIM_TRANSCRIPT", transcript}},
                      {"-q"}}) {
    std::string start = sim.until_prompt();
    EXPECT_EQ(start.find("ignored"), std::string::npos) << start;
  }
};

const char *const kLines[] = {
    "(0) [0x00013000] 0008:00800000 (unk. ctxt): mov eax, 0x11111111      ; b811111111\n",
    "(0) [0x00013005] 0008:00800005 (unk. ctxt): mov dword ptr ds:[0x802000], eax ; a300208000\n",
    "(0) [0x0001300a] 0008:0080000a (unk. ctxt): mov ebx, dword ptr ds:[0x400010] ; 8b1d10004000\n",
    "(0) [0x00013010] 0008:00800010 (unk. ctxt): mov dword ptr ds:[0x800ffe], eax ; a3fe0f8000\n",
    "(0) [0x00005000] 0008:00005000 (unk. ctxt): pop ecx                  ; 59\n",
    "(0) [0x00005001] 0008:00005001 (unk. ctxt): mov edx, cr2             ; 0f20d2\n",
    "(0) [0x00005004] 0008:00005004 (unk. ctxt): jmp 0x5004               ; ebfe\n",
};

std::string at(unsigned t) { return "Next at t=" + std::to_string(t) + "\n" + kLines[t]; }

TEST(Paging, AWriteIntoAPageNotPresentFaultsAndLeavesNothingBehind) {
  Paged p;
  unsigned n = 2;
  for (unsigned t = 1; t <= 6; ++t) EXPECT_EQ(p.sim.send("s"), at(t) + prompt(n++)) << t;
  std::string dump = p.sim.send("dump_cpu");
  ++n;
  EXPECT_EQ(dump.substr(0, 120),
            "eax:0x11111111\nebx:0xcafef00d\necx:0x00000002\nedx:0x00801000\nebp:0x00000000\nesi:0x00000000\n"
            "edi:0x00000000\nesp:0x00008ff4\n");
  EXPECT_NE(dump.find("cr2:0x00801000\ncr3:0x00020000\ncr4:0x00000010\n"), std::string::npos) << dump;
  const struct {
    const char *command;
    const char *reply;
  } exchanges[] = {
      // The frame: return address (the faulting instruction), CS, EFLAGS.
      {"x /3wx 0x8ff4", "0x00008ff4 <bogus+0>:\t0x00800010\t0x00000008\t0x00000002\n"},
      // Neither byte of the first page was written.
      {"xp /2bx 0x13ffe", "0x00013ffe <bogus+0>:\t0xaa\t0xb8\n"},
      {"x /2bx 0x800ffe", "0x00800ffe <bogus+0>:\t0xaa\t0xb8\n"},
      {"x /1wx 0x802000", "0x00802000 <bogus+0>:\t0x11111111\n"},
      {"xp /1wx 0x14000", "0x00014000 <bogus+0>:\t0x11111111\n"},
      {"xp /1wx 0x802000", "0x00802000 <bogus+0>:\t0x00000000\n"},
      {"x /1wx 0x400010", "0x00400010 <bogus+0>:\t0xcafef00d\n"},
      {"x /1wx 0x801000", "Error: reading linear 0x00801000: page not present\n"},
      {"x /1bx 0xa000", "Error: reading linear 0x0000a000: page not present\n"},
      {"u /1 0x800000", "00800000: (                    ): mov eax, 0x11111111      ; b811111111\n"},
  };
  for (const auto &x : exchanges) EXPECT_EQ(p.sim.send(x.command), x.reply + prompt(n++)) << x.command;
}

TEST(Paging, AFetchFromAPageNotPresentFaults) {
  Paged p;
  // The instruction's first byte is the last of a present page.
  EXPECT_EQ(p.sim.send("set eip = 0x800fff"), prompt(2));
  EXPECT_EQ(p.sim.send("s 0"),
            "Next at t=0\n(0) [0x00013fff] 0008:00800fff (unk. ctxt): (page not present)       ; b8\n" + prompt(3));
  EXPECT_EQ(p.sim.send("s"), "Next at t=1\n" + std::string(kLines[4]) + prompt(4));
  EXPECT_EQ(p.sim.send("x /4wx 0x8ff0"),
            "0x00008ff0 <bogus+0>:\t0x00000000\t0x00800fff\t0x00000008\t0x00000002\n" + prompt(5));
  // Straight onto the page: no byte at all, the linear address in brackets.
  EXPECT_EQ(p.sim.send("set eip = 0x801000"), prompt(6));
  EXPECT_EQ(p.sim.send("s 0"),
            "Next at t=1\n(0) [0x00801000] 0008:00801000 (unk. ctxt): (page not present)       ; \n" + prompt(7));
  EXPECT_EQ(p.sim.send("s 3"), "Next at t=4\n" + std::string(kLines[6]) + prompt(8));
  std::string dump = p.sim.send("dump_cpu");
  EXPECT_NE(dump.find("ecx:0x00000000\nedx:0x00801000\n"), std::string::npos) << dump;
}

TEST(Paging, WithoutPseTheBigPageEntryPointsAtAPageTable) {
  // The directory entry for 0x00400000 is read as a page table at physical
  // 0x00800000, whose first entry is 0: not present.
  Paged p("0");
  EXPECT_EQ(p.sim.send("x /1wx 0x400010"), "Error: reading linear 0x00400010: page not present\n" + prompt(2));
  EXPECT_EQ(p.sim.send("s 3"), "Next at t=3\n" + std::string(kLines[4]) + prompt(3));
  EXPECT_EQ(p.sim.send("s 2"), "Next at t=5\n" + std::string(kLines[6]) + prompt(4));
  std::string dump = p.sim.send("dump_cpu");
  EXPECT_EQ(dump.substr(0, 60), "eax:0x11111111\nebx:0x00000000\necx:0x00000000\nedx:0x00400010\n");
}

TEST(Paging, BreakpointsAndWatchpointsBySpace) {
  struct Case {
    std::vector<std::string> points;
    std::string stop;  // the stop line and the location
  } cases[] = {
      {{"lb 0x80000a"}, "(0) Breakpoint 1, 0x80000a in ?? ()\n" + at(2)},
      {{"vb 0x8:0x80000a"}, "(0) Breakpoint 1, 0x80000a in ?? ()\n" + at(2)},
      {{"pb 0x1300a"}, "(0) Breakpoint 1, 0x1300a in ?? ()\n" + at(2)},
      // No instruction stands at physical 0x80000a or linear 0x1300a.
      {{"pb 0x80000a", "lb 0x1300a", "lb 0x5004"}, "(0) Breakpoint 3, 0x5004 in ?? ()\n" + at(6)},
      {{"watch write 0x14000"}, "(0) Caught write watch point at 0x00014000\n" + at(2)},
      {{"watch read 0x800010"}, "(0) Caught read watch point at 0x00800010\n" + at(3)},
      // The fault's frame: the first push is EFLAGS at 0x8ffc.
      {{"watch write 0x8ffc"}, "(0) Caught write watch point at 0x00008ffc\n" + at(4)},
      {{"watch write 0x802000", "watch read 0x400010", "lb 0x5004"}, "(0) Breakpoint 1, 0x5004 in ?? ()\n" + at(6)},
  };
  for (const Case &c : cases) {
    Paged p;
    unsigned n = 2;
    for (const std::string &point : c.points) EXPECT_EQ(p.sim.send(point), prompt(n++)) << point;
    EXPECT_EQ(p.sim.send("c"), c.stop + prompt(n)) << c.points[0];
  }
}

TEST(Paging, SetpmemAndXpStayPhysical) {
  Paged p;
  EXPECT_EQ(p.sim.send("setpmem 0x13001 4 0x22222222"), prompt(2));
  EXPECT_EQ(p.sim.send("s"),
            "Next at t=1\n(0) [0x00013005] 0008:00800005 (unk. ctxt): mov dword ptr ds:[0x802000], eax ; "
            "a300208000\n" +
                prompt(3));
  EXPECT_EQ(p.sim.send("dump_cpu").substr(0, 15), "eax:0x22222222\n");
}

}  // namespace
