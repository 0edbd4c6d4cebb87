// Running the demo with "c": stops on the three kinds of breakpoint, on read
// and write watchpoints, on SIGINT; trace lines; hlt and the invalid-opcode
// path. Tick counts are those of the demo program (see sim/bios.hpp).
#include "sim_process.hpp"

using simtest::Sim;
using simtest::SimConfig;
using simtest::TempDir;

namespace {

// Line texts of the demo used below.
const char kBump[] = "(0) [0x00007c3d] 0000:7c3d (unk. ctxt): push bp                  ; 55\n";
const char kSpin[] = "(0) [0x00007c3b] 0000:7c3b (unk. ctxt): jmp 0x7c3b               ; ebfe\n";

struct Run {
  std::vector<std::string> before;  // replies not checked
  std::string command;
  std::string reply;
};

void check(const std::vector<Run> &cases) {
  for (const Run &r : cases) {
    Sim sim;
    sim.until_prompt();
    for (const std::string &c : r.before) sim.send(c);
    EXPECT_EQ(sim.send(r.command), r.reply) << "after: " << testing::PrintToString(r.before);
  }
}

TEST(Breakpoints, EachKindStopsBeforeTheInstructionAtItsAddress) {
  check({
      {{"pb 0x7c3d"}, "c", std::string("(0) Breakpoint 1, 0x7c3d in ?? ()\nNext at t=35\n") + kBump + "<bochs:3> "},
      {{"lb 7c4b"},
       "c",
       "(0) Breakpoint 1, 0x7c4b in ?? ()\nNext at t=9\n"
       "(0) [0x00007c4b] 0000:7c4b (unk. ctxt): push cx                  ; 51\n<bochs:3> "},
      // Virtual: 07c0:0013 is linear 7c13, where the demo runs as 0000:7c13.
      {{"vb 0x07c0:0x0013"},
       "c",
       "(0) Breakpoint 1, 0x7c13 in ?? ()\nNext at t=34\n"
       "(0) [0x00007c13] 0000:7c13 (unk. ctxt): call 0x7c3d              ; e82700\n<bochs:3> "},
  });
}

TEST(Breakpoints, ContinueFromABreakpointRunsOnToItsNextHit) {
  // One pass of the loop is 11 instructions: call, the 9 of bump, loop.
  check({
      {{"pb 0x7c3d", "c"}, "c", std::string("(0) Breakpoint 1, 0x7c3d in ?? ()\nNext at t=46\n") + kBump + "<bochs:4> "},
      {{"pb 0x7c3d", "c", "c", "c", "c"},
       "c",
       std::string("(0) Breakpoint 1, 0x7c3d in ?? ()\nNext at t=79\n") + kBump + "<bochs:7> "},
  });
}

TEST(Breakpoints, TheLowestNumberIsReportedAndDeletedOnesNoLongerStop) {
  check({
      {{"lb 7c13", "pb 7c13"}, "c",
       "(0) Breakpoint 1, 0x7c13 in ?? ()\nNext at t=34\n"
       "(0) [0x00007c13] 0000:7c13 (unk. ctxt): call 0x7c3d              ; e82700\n<bochs:4> "},
      {{"lb 7c13", "pb 7c13", "d 1"}, "c",
       "(0) Breakpoint 2, 0x7c13 in ?? ()\nNext at t=34\n"
       "(0) [0x00007c13] 0000:7c13 (unk. ctxt): call 0x7c3d              ; e82700\n<bochs:5> "},
      {{"pb 7c13", "pb 7c57", "d 1"}, "c",
       "(0) Breakpoint 2, 0x7c57 in ?? ()\nNext at t=30\n"
       "(0) [0x00007c57] 0000:7c57 (unk. ctxt): pop di                   ; 5f\n<bochs:5> "},
  });
}

TEST(Breakpoints, ARepeatedInstructionStopsOnceNotPerIteration) {
  check({
      {{"pb 7c55"}, "c",
       "(0) Breakpoint 1, 0x7c55 in ?? ()\nNext at t=14\n"
       "(0) [0x00007c55] 0000:7c55 (unk. ctxt): rep: stosb               ; f3aa\n<bochs:3> "},
      {{"pb 7c55", "pb 7c57", "c"}, "c",
       "(0) Breakpoint 2, 0x7c57 in ?? ()\nNext at t=30\n"
       "(0) [0x00007c57] 0000:7c57 (unk. ctxt): pop di                   ; 5f\n<bochs:5> "},
  });
}

TEST(Breakpoints, StepIgnoresBreakpoints) {
  check({{{"pb 7c01"},
          "s 3",
          "Next at t=3\n(0) [0x00007c03] 0000:7c03 (unk. ctxt): mov ds, ax               ; 8ed8\n<bochs:3> "}});
}

TEST(Watchpoints, ReadAndWriteStopAfterTheAccessingInstruction) {
  check({
      // bump reads the counter at 7c41; the stop shows the next instruction.
      {{"watch read 0x500"}, "c",
       "(0) Caught read watch point at 0x00000500\nNext at t=39\n"
       "(0) [0x00007c44] 0000:7c44 (unk. ctxt): inc ax                   ; 40\n<bochs:3> "},
      // clear's rep stosb writes it first, in its first iteration.
      {{"watch write 0x500"}, "c",
       "(0) Caught write watch point at 0x00000500\nNext at t=15\n"
       "(0) [0x00007c55] 0000:7c55 (unk. ctxt): rep: stosb               ; f3aa\n<bochs:3> "},
      {{"watch write 0x500", "c"}, "c",
       "(0) Caught write watch point at 0x00000500\nNext at t=41\n"
       "(0) [0x00007c48] 0000:7c48 (unk. ctxt): pop ax                   ; 58\n<bochs:4> "},
      // Any byte of an access counts: the word write at 0500 covers 0501.
      {{"watch write 0x501", "c"}, "c",
       "(0) Caught write watch point at 0x00000501\nNext at t=41\n"
       "(0) [0x00007c48] 0000:7c48 (unk. ctxt): pop ax                   ; 58\n<bochs:4> "},
      // Stack pushes are writes: "call clear" pushes its return address.
      {{"watch write 7bfe"}, "c",
       "(0) Caught write watch point at 0x00007bfe\nNext at t=9\n"
       "(0) [0x00007c4b] 0000:7c4b (unk. ctxt): push cx                  ; 51\n<bochs:3> "},
      // int 0x10 reads its vector at 0040..0043.
      {{"watch read 0x42"}, "c",
       "(0) Caught read watch point at 0x00000042\nNext at t=107\n"
       "(0) [0x000fff53] f000:ff53 (unk. ctxt): iret                     ; cf\n<bochs:3> "},
      // rep movsb reads the message in its first iteration.
      {{"watch read 0x7c61"}, "c",
       "(0) Caught read watch point at 0x00007c61\nNext at t=97\n"
       "(0) [0x00007c2a] 0000:7c2a (unk. ctxt): rep: movsb               ; f3a4\n<bochs:3> "},
      // A write watchpoint ignores reads, a read watchpoint ignores writes:
      // the message is only read, the word at 0502 only written.
      {{"watch write 0x7c61", "watch read 0x502", "pb 7c3b"}, "c",
       std::string("(0) Breakpoint 1, 0x7c3b in ?? ()\nNext at t=111\n") + kSpin + "<bochs:5> "},
  });
}

TEST(Watchpoints, UnwatchedAddressesNoLongerStop) {
  check({
      {{"watch write 0x500", "watch read 0x500", "unwatch", "pb 7c57"}, "c",
       "(0) Breakpoint 1, 0x7c57 in ?? ()\nNext at t=30\n"
       "(0) [0x00007c57] 0000:7c57 (unk. ctxt): pop di                   ; 5f\n<bochs:6> "},
      {{"watch write 0x500", "watch read 0x500", "unwatch write 0x500"}, "c",
       "(0) Caught read watch point at 0x00000500\nNext at t=39\n"
       "(0) [0x00007c44] 0000:7c44 (unk. ctxt): inc ax                   ; 40\n<bochs:5> "},
  });
}

const char kResetTrace[] =
    "(0) [0x000ffff0] f000:fff0 (unk. ctxt): jmp far 0x0000:0x7c00    ; ea007c0000\n"
    "(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli                      ; fa\n"
    "(0) [0x00007c01] 0000:7c01 (unk. ctxt): xor ax, ax               ; 31c0\n"
    "(0) [0x00007c03] 0000:7c03 (unk. ctxt): mov ds, ax               ; 8ed8\n"
    "(0) [0x00007c05] 0000:7c05 (unk. ctxt): mov es, ax               ; 8ec0\n"
    "(0) [0x00007c07] 0000:7c07 (unk. ctxt): mov ss, ax               ; 8ed0\n"
    "(0) [0x00007c09] 0000:7c09 (unk. ctxt): mov sp, 0x7c00           ; bc007c\n"
    "(0) [0x00007c0c] 0000:7c0c (unk. ctxt): sti                      ; fb\n";
const char kCallClear[] = "(0) [0x00007c0d] 0000:7c0d (unk. ctxt): call 0x7c4b              ; e83b00\n";

TEST(Tracing, EveryExecutedInstructionIsWrittenBeforeItRuns) {
  std::string stosb = "(0) [0x00007c55] 0000:7c55 (unk. ctxt): rep: stosb               ; f3aa\n";
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += stosb;
  check({
      {{"pb 0x7c0d", "trace-on"}, "c",
       std::string(kResetTrace) + "(0) Breakpoint 1, 0x7c0d in ?? ()\nNext at t=8\n" + kCallClear + "<bochs:4> "},
      {{"pb 0x7c0d", "trace-on", "trace-off"}, "c",
       std::string("(0) Breakpoint 1, 0x7c0d in ?? ()\nNext at t=8\n") + kCallClear + "<bochs:5> "},
      // One line per iteration of a repeated instruction.
      {{"s 14", "pb 7c57", "trace-on"}, "c",
       sixteen + "(0) Breakpoint 1, 0x7c57 in ?? ()\nNext at t=30\n" +
           "(0) [0x00007c57] 0000:7c57 (unk. ctxt): pop di                   ; 5f\n<bochs:5> "},
      // The instruction that hits a watchpoint is traced before the report.
      {{"s 8", "watch write 0x7bfe", "trace-on"}, "c",
       std::string(kCallClear) + "(0) Caught write watch point at 0x00007bfe\nNext at t=9\n" +
           "(0) [0x00007c4b] 0000:7c4b (unk. ctxt): push cx                  ; 51\n<bochs:5> "},
      // Stepping writes no trace lines.
      {{"trace-on"}, "s",
       "Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli                      ; fa\n<bochs:3> "},
  });
}

// A simulated PC whose transcript can be watched.
struct Recorded {
  TempDir dir;
  std::string transcript = dir.file("transcript");
  Sim sim{SimConfig{{{"VUM_SIM_TRANSCRIPT", transcript}}, {"-q"}}};
};

TEST(Interrupt, SigintStopsARunWithTheTwoLinesAndThePrompt) {
  Recorded r;
  r.sim.until_prompt();
  r.sim.send("pb 7c3b");
  r.sim.send("c");
  r.sim.send("d 1");
  r.sim.write_raw("c\n");
  simtest::wait_for_lines(r.transcript, 4);
  r.sim.interrupt();
  std::string reply = r.sim.until_prompt();
  // "Next at t=N", where the run was, and the prompt.
  const std::string head = "Next at t=";
  ASSERT_EQ(reply.compare(0, head.size(), head), 0) << reply;
  size_t nl = reply.find('\n');
  ASSERT_NE(nl, std::string::npos);
  std::string ticks = reply.substr(head.size(), nl - head.size());
  ASSERT_EQ(ticks.find_first_not_of("0123456789"), std::string::npos) << reply;
  EXPECT_GE(std::stoull(ticks), 111u);
  EXPECT_EQ(reply.substr(nl + 1), std::string(kSpin) + "<bochs:5> ");
  EXPECT_EQ(simtest::wait_for_lines(r.transcript, 5),
            (std::vector<std::string>{"pb 7c3b", "c", "d 1", "c", "#SIGINT"}));
  // The machine goes on from where it stopped.
  EXPECT_EQ(r.sim.send("s").substr(0, 10), "Next at t=");
}

TEST(Interrupt, TraceLinesComeFirstThenTheStop) {
  Recorded r;
  r.sim.until_prompt();
  r.sim.send("pb 7c3b");
  r.sim.send("c");
  r.sim.send("d 1");
  r.sim.send("trace-on");
  r.sim.write_raw("c\n");
  simtest::wait_for_lines(r.transcript, 5);
  r.sim.interrupt();
  std::vector<std::string> lines = simtest::lines_of(r.sim.until_prompt());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "<bochs:6> ");
  EXPECT_EQ(lines[lines.size() - 2] + "\n", kSpin);
  EXPECT_EQ(lines[lines.size() - 3].substr(0, 10), "Next at t=");
  for (size_t i = 0; i + 3 < lines.size(); ++i) ASSERT_EQ(lines[i] + "\n", kSpin) << "line " << i;
}

TEST(Interrupt, SigintAtTheIdlePromptIsIgnored) {
  Recorded r;
  r.sim.until_prompt();
  r.sim.interrupt();
  EXPECT_EQ(simtest::wait_for_lines(r.transcript, 1), std::vector<std::string>{"#SIGINT"});
  // Nothing was written for it, and it is not kept for the next run.
  EXPECT_EQ(r.sim.send("s"),
            "Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli                      ; fa\n<bochs:2> ");
  r.sim.send("pb 0x7c0d");
  EXPECT_EQ(r.sim.send("c"), std::string("(0) Breakpoint 1, 0x7c0d in ?? ()\nNext at t=8\n") + kCallClear + "<bochs:4> ");
}

TEST(Interrupt, ASigintSentWhileContinueWaitsUnreadStopsItBeforeItsFirstInstruction) {
  // The reply to the examine command fills the pipe, so "c" is still
  // waiting when the signal comes.
  Recorded r;
  r.sim.until_prompt();
  r.sim.write_raw("xp /400000bx 0\nc\n");
  r.sim.interrupt();
  std::string dump = r.sim.until_prompt();
  EXPECT_EQ(dump.substr(dump.size() - 10), "<bochs:2> ");
  EXPECT_EQ(r.sim.until_prompt(),
            "Next at t=0\n(0) [0x000ffff0] f000:fff0 (unk. ctxt): jmp far 0x0000:0x7c00    ; ea007c0000\n<bochs:3> ");
  // The signal may come before or after the lines are taken up.
  std::vector<std::string> lines = simtest::wait_for_lines(r.transcript, 3);
  std::vector<std::string> commands;
  for (const std::string &l : lines)
    if (l != "#SIGINT") commands.push_back(l);
  EXPECT_EQ(commands, (std::vector<std::string>{"xp /400000bx 0", "c"}));
  EXPECT_EQ(lines.size(), 3u);
}

char process_state(pid_t pid) {
  std::string stat = simtest::read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
}

TEST(Halt, ARunOnHltSleepsUntilSigint) {
  TempDir dir;
  std::string image = dir.write("hlt.img", std::string("\x90\xf4\x90", 3));
  std::string transcript = dir.file("transcript");
  Sim sim(SimConfig{{{"VUM_SIM_IMAGE", image}, {"VUM_SIM_TRANSCRIPT", transcript}}, {"-q"}});
  sim.until_prompt();
  sim.write_raw("c\n");
  simtest::wait_for_lines(transcript, 1);
  // Halted, the process sleeps instead of spinning.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (process_state(sim.pid()) != 'S' && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(process_state(sim.pid()), 'S');
  sim.interrupt();
  const std::string after_hlt =
      "Next at t=3\n(0) [0x00007c02] 0000:7c02 (unk. ctxt): nop                      ; 90\n";
  EXPECT_EQ(sim.until_prompt(), after_hlt + "<bochs:2> ");
  // Still halted, with interrupts off: a step executes nothing and waits
  // for SIGINT too, and so does another run.
  sim.write_raw("s\n");
  simtest::wait_for_lines(transcript, 3);
  sim.interrupt();
  EXPECT_EQ(sim.until_prompt(), after_hlt + "<bochs:3> ");
  sim.write_raw("c\n");
  simtest::wait_for_lines(transcript, 5);
  sim.interrupt();
  EXPECT_EQ(sim.until_prompt(), after_hlt + "<bochs:4> ");
  EXPECT_EQ(simtest::wait_for_lines(transcript, 6),
            (std::vector<std::string>{"c", "#SIGINT", "s", "#SIGINT", "c", "#SIGINT"}));
}

TEST(Halt, AnInvalidOpcodeGoesThroughVectorSixToTheHaltingHandler) {
  TempDir dir;
  std::string image = dir.write("ud.img", std::string("\x0f\x0b", 2));
  Sim sim(SimConfig{{{"VUM_SIM_IMAGE", image}}, {"-q"}});
  sim.until_prompt();
  EXPECT_EQ(sim.send("s"),
            "Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): (invalid)                ; 0f0b\n<bochs:2> ");
  EXPECT_EQ(sim.send("s"),
            "Next at t=2\n(0) [0x000fff54] f000:ff54 (unk. ctxt): hlt                      ; f4\n<bochs:3> ");
  // The fault pushed flags, cs and the address of the faulting instruction.
  EXPECT_EQ(sim.send("xp /3hx 0xfffa"), "0x0000fffa <bogus+0>:\t0x7c00\t0x0000\t0x0002\n<bochs:4> ");
}

}  // namespace
