// The built-in guests through real pipes: the guest's console on standard
// output, magic breakpoints, the triple fault with and without its reset,
// "s" on a halted processor, and the paging guest's tables and pages as the
// debugger shows them. Tick counts and addresses are the ones the README
// gives for the guests.
#include <thread>

#include "sim_process.hpp"

using simtest::Sim;
using simtest::SimConfig;
using simtest::TempDir;

namespace {

std::string prompt(unsigned n) { return "<bochs:" + std::to_string(n) + "> "; }

char process_state(pid_t pid) {
  std::string stat = simtest::read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
}

// Waits (within the guard) until the process sleeps.
char settled_state(pid_t pid) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(simtest::kGuardMs);
  while (process_state(pid) != 'S' && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return process_state(pid);
}

typedef std::vector<std::pair<std::string, std::string>> Env;

// A guest started by name, with a transcript.
struct Guest {
  TempDir dir;
  std::string transcript = dir.file("t");
  Sim sim;
  explicit Guest(const std::string &name, Env env = {}, std::vector<std::string> args = {"-q"})
      : sim(config(name, env, args)) {}
  SimConfig config(const std::string &name, Env env, std::vector<std::string> args) {
    env.push_back({"VUM_SIM_GUEST", name});
    env.push_back({"VUM_SIM_TRANSCRIPT", transcript});
    return SimConfig{env, args};
  }
  // Sends a line that does not come back by itself, waits until the
  // program has read it, and interrupts it.
  std::string interrupted(const std::string &line, size_t lines_so_far) {
    sim.write_raw(line + "\n");
    simtest::wait_for_lines(transcript, lines_so_far + 1);
    EXPECT_EQ(settled_state(sim.pid()), 'S') << line;
    sim.interrupt();
    return sim.until_prompt();
  }
};

// The e9 guest's whole output, for as long as it runs.
std::string e9_stream(size_t length) {
  std::string s = "hello from e9\n";
  while (s.size() < length) s += "e9 loop\n";
  return s.substr(0, length);
}

const char kE9Looping[] = "(0) [0x00007c20] 0000:7c20 (unk. ctxt): mov dx, 0xe9             ; bae900\n";
const char kE9OutDx[] = "(0) [0x00007c2b] 0000:7c2b (unk. ctxt): out dx, al               ; ee\n";

TEST(GuestOutput, BytesForPort0xe9AreOnStandardOutputWhenTheReplyComes) {
  Guest g("e9");
  std::string start = g.sim.until_prompt();
  EXPECT_NE(start.find("Boot image at 0x7c00: built-in guest e9\n"), std::string::npos) << start;
  EXPECT_EQ(g.sim.out_now(), "");
  EXPECT_EQ(g.sim.send("lb 0x7c20"), prompt(2));
  EXPECT_EQ(g.sim.send("c"), std::string("(0) Breakpoint 1, 0x7c20 in ?? ()\nNext at t=83\n") + kE9Looping + prompt(3));
  EXPECT_EQ(g.sim.out_now(), "hello from e9\n");
  // out dx, al: a step's byte is out by the end of the step.
  EXPECT_EQ(g.sim.send("pb 0x7c2b"), prompt(4));
  EXPECT_EQ(g.sim.send("c"), std::string("(0) Breakpoint 2, 0x7c2b in ?? ()\nNext at t=88\n") + kE9OutDx + prompt(5));
  EXPECT_EQ(g.sim.out_now(), "");
  std::string step = g.sim.send("s");
  EXPECT_EQ(step.substr(0, 12), "Next at t=89");
  EXPECT_EQ(g.sim.out_now(), "e");
  // Reading the port gives 0xe9; nothing of the debugger reaches standard
  // output, and nothing of the guest standard error.
  EXPECT_EQ(g.sim.send("dump_cpu").find("e9 loop"), std::string::npos);
  EXPECT_EQ(g.sim.out_now(), "");
}

TEST(GuestOutput, ARunThatPrintsWithoutPauseStopsOnSigint) {
  Guest g("e9");
  g.sim.until_prompt();
  g.sim.write_raw("c\n");
  std::string out = g.sim.out_bytes(4096);
  g.sim.interrupt();
  std::string reply = g.sim.until_prompt();
  std::vector<std::string> lines = simtest::lines_of(reply);
  ASSERT_GE(lines.size(), 3u) << reply;
  EXPECT_EQ(lines[lines.size() - 3].substr(0, 10), "Next at t=");
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 14), "(0) [0x00007c2") << reply;
  EXPECT_EQ(lines.back(), prompt(2));
  out += g.sim.out_now();
  EXPECT_GE(out.size(), 4096u);
  EXPECT_EQ(out, e9_stream(out.size()));
}

// Standard output in a pipe that nobody reads: the debugger neither blocks
// nor mixes the stream up. What it could not keep is counted, and the
// count plus what arrives makes all the guest wrote.
TEST(GuestOutput, NobodyReadingStandardOutputDropsBytesWithACount) {
  const std::string steps = "s 1500000";
  // The same steps with standard output read as it comes.
  std::string whole;
  {
    Guest g("e9");
    g.sim.until_prompt();
    std::thread reader([&] {
      char buf[65536];
      ssize_t n;
      while ((n = read(g.sim.out_descriptor(), buf, sizeof buf)) > 0) whole.append(buf, size_t(n));
    });
    std::string reply = g.sim.send(steps);
    EXPECT_EQ(reply.substr(0, 18), "Next at t=1500000\n") << reply;
    EXPECT_EQ(reply.find("dropped"), std::string::npos) << reply;
    g.sim.close_input();
    EXPECT_EQ(g.sim.wait(), 0);
    reader.join();
  }
  ASSERT_GT(whole.size(), 200000u);
  EXPECT_EQ(whole, e9_stream(whole.size()));

  Guest g("e9");
  g.sim.until_prompt();
  std::string reply = g.sim.send(steps);
  const std::string notice = "(0) Guest output: ";
  ASSERT_EQ(reply.substr(0, notice.size()), notice) << reply;
  size_t dropped = std::stoul(reply.substr(notice.size()));
  EXPECT_EQ(reply.substr(0, reply.find("\n(0) [")),
            notice + std::to_string(dropped) + " bytes dropped, standard output is full\nNext at t=1500000");
  ASSERT_LT(dropped, whole.size());
  // What waited in the program comes out once the pipe has room, while the
  // program sits at its prompt.
  std::string out = g.sim.out_bytes(whole.size() - dropped);
  EXPECT_EQ(out, whole.substr(0, whole.size() - dropped));
  EXPECT_EQ(g.sim.send("xp /1bx 0x7c40"), "0x00007c40 <bogus+0>:\t0x68\n" + prompt(3));
  EXPECT_EQ(g.sim.out_now(), "");
}

// --- magic breakpoints -----------------------------------------------------

const char kAfter1[] = "(0) [0x00007c22] 0000:7c22 (unk. ctxt): mov ax, 0x1              ; b80100\n";
const char kAfter2[] = "(0) [0x00007c27] 0000:7c27 (unk. ctxt): mov ax, 0x2              ; b80200\n";
const char kMagic1[] = "(0) [0x00007c20] 0000:7c20 (unk. ctxt): xchg bx, bx              ; 87db\n";

TEST(MagicBreakpoint, EndsARunAndAStepAfterTheXchg) {
  struct Given {
    Env env;
    std::vector<std::string> args;
  } given[] = {{{{"VUM_SIM_MAGIC_BREAK", "1"}}, {"-q"}}, {{}, {"-q", "--magic-break"}}};
  for (const Given &on : given) {
    Guest g("magic", on.env, on.args);
    g.sim.until_prompt();
    EXPECT_EQ(g.sim.send("c"), std::string("(0) Magic breakpoint\nNext at t=152\n") + kAfter1 + prompt(2));
    EXPECT_EQ(g.sim.out_now(), "before the magic breakpoint\n");
    EXPECT_EQ(g.sim.send("c"), std::string("(0) Magic breakpoint\nNext at t=154\n") + kAfter2 + prompt(3));
    EXPECT_EQ(g.sim.send("s"), "Next at t=155\n(0) [0x00007c2a] 0000:7c2a (unk. ctxt): jmp 0x7c2a               ; ebfe\n" +
                                   prompt(4));

    Guest h("magic", on.env, on.args);
    h.sim.until_prompt();
    EXPECT_EQ(h.sim.send("s 151"), std::string("Next at t=151\n") + kMagic1 + prompt(2));
    EXPECT_EQ(h.sim.send("s"), std::string("(0) Magic breakpoint\nNext at t=152\n") + kAfter1 + prompt(3));
    EXPECT_EQ(h.sim.send("s 1000"), std::string("(0) Magic breakpoint\nNext at t=154\n") + kAfter2 + prompt(4));
  }
}

TEST(MagicBreakpoint, OffByDefaultTheXchgIsAnInstruction) {
  for (const Env &env : {Env{}, Env{{"VUM_SIM_MAGIC_BREAK", "0"}}}) {
    Guest g("magic", env);
    g.sim.until_prompt();
    EXPECT_EQ(g.sim.send("s 153"), std::string("Next at t=153\n") + "(0) [0x00007c25] 0000:7c25 (unk. ctxt): "
                                                                     "xchg bx, bx              ; 87db\n" +
                                       prompt(2));
    g.sim.write_raw("c\n");
    simtest::wait_for_lines(g.transcript, 2);
    g.sim.interrupt();
    std::string reply = g.sim.until_prompt();
    EXPECT_EQ(reply.find("Magic"), std::string::npos) << reply;
    EXPECT_NE(reply.find("0000:7c2a"), std::string::npos) << reply;
  }
}

// --- triple fault ------------------------------------------------------------

const char kResetVector[] = "(0) [0x000ffff0] f000:fff0 (unk. ctxt): jmp far 0x0000:0x7c00    ; ea007c0000\n";
const char kInt3[] = "(0) [0x00007c20] 0000:7c20 (unk. ctxt): int 0x3                  ; cd03\n";

TEST(TripleFault, WithTheResetTheRunStopsAtTheResetVector) {
  struct Given {
    Env env;
    std::vector<std::string> args;
  } given[] = {{{{"VUM_SIM_RESET_ON_TRIPLE_FAULT", "1"}}, {"-q"}}, {{}, {"-q", "--reset-on-triple-fault"}}};
  for (const Given &on : given) {
    Guest g("triple", on.env, on.args);
    g.sim.until_prompt();
    EXPECT_EQ(g.sim.send("c"), std::string("(0) Reset after a triple fault\nNext at t=22\n") + kResetVector + prompt(2));
    // Registers as at power-on (the empty table loaded by the guest is gone);
    // memory outlived the reset.
    std::string dump = g.sim.send("dump_cpu");
    for (const char *line : {"esp:0x00000000\neflags:0x00000002\neip:0x0000fff0\ncs:s=0xf000,",
                             "idtr:base=0x00000000, limit=0x3ff\n", "cr0:0x00000010\n"})
      EXPECT_NE(dump.find(line), std::string::npos) << line << dump;
    EXPECT_EQ(g.sim.send("c"), std::string("(0) Reset after a triple fault\nNext at t=44\n") + kResetVector + prompt(4));
    EXPECT_EQ(g.sim.send("xp /1hx 0x500"), "0x00000500 <bogus+0>:\t0x0002\n" + prompt(5));
    // A step that meets it.
    EXPECT_EQ(g.sim.send("s 21"), "Next at t=65\n" + std::string(kInt3) + prompt(6));
    EXPECT_EQ(g.sim.send("s"), std::string("(0) Reset after a triple fault\nNext at t=66\n") + kResetVector + prompt(7));
  }
}

TEST(TripleFault, WithoutTheResetTheProcessorShutsDownOnTheFault) {
  Guest g("triple");
  g.sim.until_prompt();
  const std::string stuck = "Next at t=21\n" + std::string(kInt3);
  EXPECT_EQ(g.interrupted("c", 0), stuck + prompt(2));
  EXPECT_EQ(g.sim.send("s"), stuck + prompt(3));
  // Nothing of the faults' deliveries is left: no pushes, the empty table.
  std::string dump = g.sim.send("dump_cpu");
  for (const char *line : {"esp:0x00007c00\n", "idtr:base=0x00000000, limit=0x0\n"})
    EXPECT_NE(dump.find(line), std::string::npos) << line << dump;
}

// --- a halted processor --------------------------------------------------------

const char kAfterHlt[] = "Next at t=3\n(0) [0x00007c02] 0000:7c02 (unk. ctxt): jmp 0x7c01               ; ebfd\n";

TEST(HaltedStep, AStepOnHltWithInterruptsOffWaitsForSigint) {
  Guest g("hlt");
  g.sim.until_prompt();
  EXPECT_EQ(g.sim.send("s 2"), "Next at t=2\n(0) [0x00007c01] 0000:7c01 (unk. ctxt): hlt                      ; f4\n" +
                                   prompt(2));
  EXPECT_EQ(g.interrupted("s", 1), kAfterHlt + prompt(3));
  // Halted already: the next step waits too, and executes nothing.
  EXPECT_EQ(g.interrupted("s", 3), kAfterHlt + prompt(4));
  EXPECT_EQ(g.interrupted("s 10", 5), kAfterHlt + prompt(5));
  EXPECT_EQ(simtest::wait_for_lines(g.transcript, 7),
            (std::vector<std::string>{"s 2", "s", "#SIGINT", "s", "#SIGINT", "s 10", "#SIGINT"}));
  // A SIGINT at the prompt changes nothing.
  g.sim.interrupt();
  EXPECT_EQ(g.sim.send("xp /1bx 0x7c01"), "0x00007c01 <bogus+0>:\t0xf4\n" + prompt(6));
}

TEST(HaltedStep, ASigintSentWithTheStepWakesIt) {
  Guest g("hlt");
  g.sim.until_prompt();
  g.sim.send("s 2");
  // The signal may come before or after the line is read.
  g.sim.write_raw("s\n");
  g.sim.interrupt();
  EXPECT_EQ(g.sim.until_prompt(), kAfterHlt + prompt(3));
}

TEST(HaltedStep, WithInterruptsOnAStepReturnsAtOnce) {
  TempDir dir;
  std::string image = dir.write("sti-hlt.img", std::string("\xfb\xf4\x90", 3));  // sti; hlt; nop
  Sim sim(SimConfig{{{"VUM_SIM_IMAGE", image}}, {"-q"}});
  sim.until_prompt();
  const std::string after = "Next at t=3\n(0) [0x00007c02] 0000:7c02 (unk. ctxt): nop                      ; 90\n";
  EXPECT_EQ(sim.send("s 5"), after + prompt(2));
  EXPECT_EQ(sim.send("s"), after + prompt(3));
}

// --- the paging guest ------------------------------------------------------------

struct Exchange {
  std::string command;
  std::string reply;  // without the prompt
};

TEST(PagingGuest, TablesAndPagesAsTheDebuggerShowsThem) {
  Guest g("paging");
  g.sim.until_prompt();
  unsigned n = 2;
  const Exchange exchanges[] = {
      {"lb 0x7cc0", ""},
      {"c",
       "(0) Breakpoint 1, 0x7cc0 in ?? ()\nNext at t=6194\n(0) [0x00007cc0] 0008:00007cc0 (unk. ctxt): mov dword ptr "
       "ds:[0x800000], 0x600df00d ; c705000080000df00d60\n"},
      // Before the writes through the moved pages.
      {"x /1wx 0x800000", "0x00800000 <bogus+0>:\t0x00000000\n"},
      {"lb 0x7ce0", ""},
      {"c", "(0) Breakpoint 2, 0x7ce0 in ?? ()\nNext at t=6209\n(0) [0x00007ce0] 0008:00007ce0 (unk. ctxt): jmp 0x7ce0"
            "               ; ebfe\n"},
      {"x /1wx 0x800000", "0x00800000 <bogus+0>:\t0x600df00d\n"},
      {"xp /1wx 0x13000", "0x00013000 <bogus+0>:\t0x600df00d\n"},
      {"xp /1wx 0x800000", "0x00800000 <bogus+0>:\t0x00000000\n"},
      {"x /1wx 0x400000", "0x00400000 <bogus+0>:\t0xcafebabe\n"},
      {"x /1wx 0x7ffffc", "0x007ffffc <bogus+0>:\t0x00000000\n"},
      {"xp /1wx 0xc00000", "0x00c00000 <bogus+0>:\t0xcafebabe\n"},
      {"x /1wx 0x801000", "Error: reading linear 0x00801000: page not present\n"},
      {"x /2wx 0x800ffc", "Error: reading linear 0x00801000: page not present\n"},
      {"x /1bx 0xc00000", "Error: reading linear 0x00c00000: page not present\n"},
      // The counters: int 3, int 0x30, the page fault's error code and CR2.
      {"x /5wx 0x500", "0x00000500 <bogus+0>:\t0x00000001\t0x00000001\t0x00000000\t0x00801000\n"
                       "0x00000510 <bogus+16>:\t0x00000000\n"},
      // The GDT where GDTR points: the code descriptor, and the TSS marked busy.
      {"x /4wx 0x7d48", "0x00007d48 <bogus+0>:\t0x0000ffff\t0x00cf9a00\t0x0000ffff\t0x00cf9200\n"},
      {"x /2wx 0x7d68", "0x00007d68 <bogus+0>:\t0x7d900067\t0x00008b00\n"},
      // The IDT where IDTR points: the task gate, the trap gate, the 16-bit gate.
      {"x /4wx 0x7e10", "0x00007e10 <bogus+0>:\t0x00280000\t0x00008500\t0x00087cf0\t0x00008f00\n"},
      {"x /2wx 0x7f80", "0x00007f80 <bogus+0>:\t0x00207d28\t0x00008600\n"},
      {"u /3 0x7cd4",
       "00007cd4: (                    ): int 0x3                  ; cd03\n"
       "00007cd6: (                    ): int 0x30                 ; cd30\n"
       "00007cd8: (                    ): mov eax, dword ptr ds:[0x801000] ; a100108000\n"},
      {"u /4 0x800ffc",
       "00800ffc: (                    ): add byte ptr ds:[eax], al ; 0000\n"
       "00800ffe: (                    ): add byte ptr ds:[eax], al ; 0000\n"
       "Error: reading linear 0x00801000: page not present\n"},
  };
  for (const Exchange &x : exchanges) EXPECT_EQ(g.sim.send(x.command), x.reply + prompt(n++)) << x.command;
  std::string dump = g.sim.send("dump_cpu");
  for (const char *line : {"ss:s=0x0018, dl=0x0000ffff, dh=0x00009202, valid=1\n",
                           "tr:s=0x0028, dl=0x7d900067, dh=0x00008b00, valid=1\n",
                           "gdtr:base=0x00007d40, limit=0x3f\nidtr:base=0x00007e00, limit=0x187\n",
                           "cr0:0x80000011\ncr1:0x00000000\ncr2:0x00801000\ncr3:0x00010000\ncr4:0x00000010\n"})
    EXPECT_NE(dump.find(line), std::string::npos) << line << dump;
  EXPECT_EQ(dump.substr(0, 15), "eax:0x80000011\n");  // the page fault handler's push and pop
}

}  // namespace
