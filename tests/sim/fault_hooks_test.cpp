// The fault hooks the front end's deadlines and stop paths are tested
// against: a debugger that falls silent (at once or in the middle of a
// reply), closes its reply stream, or ignores SIGINT, "q", the end of its
// input or SIGTERM. Each hook by its environment variable and by its option.
//
// "Silent" is checked as: no byte at all arrives within kQuietMs while the
// process is still alive. Where the program is expected to end a stream or
// itself, the waits are guards only and pass as soon as the end comes.
#include "sim_process.hpp"

using simtest::Drained;
using simtest::read_file;
using simtest::Sim;
using simtest::SimConfig;
using simtest::TempDir;
using simtest::wait_for_lines;

namespace {

constexpr int kQuietMs = 250;
constexpr int kEndMs = 10000;

const char kStep1[] = "Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli                      ; fa\n";
const char kSpin[] = "(0) [0x00007c3b] 0000:7c3b (unk. ctxt): jmp 0x7c3b               ; ebfe\n";

enum class Given { ByVariable, ByOption, Not };

// A simulated PC with one hook, given one way, recording its transcript.
struct Hooked {
  // `value` is the count of a counted hook, or empty for a switch.
  Hooked(const std::string &variable, const std::string &option, const std::string &value, Given given,
         std::vector<std::pair<std::string, std::string>> env = {}, std::vector<int> reply_duplicates = {})
      : sim(config(variable, option, value, given, std::move(env), std::move(reply_duplicates))) {}

  SimConfig config(const std::string &variable, const std::string &option, const std::string &value, Given given,
                   std::vector<std::pair<std::string, std::string>> env, std::vector<int> reply_duplicates) {
    SimConfig c;
    c.env = std::move(env);
    c.env.push_back({"VUM_SIM_TRANSCRIPT", transcript});
    c.reply_duplicates = std::move(reply_duplicates);
    if (given == Given::ByVariable) c.env.push_back({variable, value.empty() ? "1" : value});
    if (given == Given::ByOption) {
      c.args.push_back(option);
      if (!value.empty()) c.args.push_back(value);
    }
    return c;
  }

  // The transcript once it holds `count` lines.
  std::vector<std::string> recorded(size_t count) { return wait_for_lines(transcript, count); }

  TempDir dir;
  std::string transcript = dir.file("transcript");
  Sim sim;
};

const char *name_of(Given g) { return g == Given::ByVariable ? "by variable" : g == Given::ByOption ? "by option" : "off"; }

// The state letter of /proc/PID/stat: 'R' running or runnable, 'S' asleep.
char process_state(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
}

// Waits (within a guard) for the process to be asleep; its state then.
char settled_state(pid_t pid) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndMs);
  while (process_state(pid) != 'S' && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return process_state(pid);
}

// The processor time the process has used, in clock ticks.
long cpu_ticks(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return -1;
  std::istringstream in(stat.substr(paren + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

std::string image_file(const TempDir &dir, const std::string &bytes) { return dir.write("boot.img", bytes); }

// --- silent after N ---------------------------------------------------------

TEST(SilentAfter, NothingFromTheNthLineOnWhileLinesAreStillReadAndRecorded) {
  for (Given given : {Given::ByVariable, Given::ByOption}) {
    SCOPED_TRACE(name_of(given));
    Hooked h("VUM_SIM_SILENT_AFTER", "--silent-after", "3", given);
    h.sim.until_prompt();
    EXPECT_EQ(h.sim.send("s"), std::string(kStep1) + "<bochs:2> ");
    EXPECT_EQ(h.sim.send("pb 7c00"), "<bochs:3> ");
    h.sim.write_raw("s\n");
    h.recorded(3);
    Drained d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_FALSE(d.ended);
    EXPECT_TRUE(h.sim.alive());
    // Replies of every kind, an error and an empty line: still nothing.
    h.sim.write_raw("dump_cpu\nxp /16bx 0\nhelp\nbogus\n\ninfo break\n");
    h.recorded(9);
    d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_FALSE(d.ended);
    EXPECT_TRUE(h.sim.alive());
    EXPECT_EQ(read_file(h.transcript), "s\npb 7c00\ns\ndump_cpu\nxp /16bx 0\nhelp\nbogus\n\ninfo break\n");
  }
}

TEST(SilentAfter, QuitAndTheEndOfInputStillEndTheProgram) {
  struct Case {
    Given given;
    bool quit;  // else the input is closed
  } cases[] = {{Given::ByVariable, true}, {Given::ByOption, false}, {Given::ByVariable, false},
               {Given::ByOption, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(name_of(c.given)) + (c.quit ? ", q" : ", end of input"));
    Hooked h("VUM_SIM_SILENT_AFTER", "--silent-after", "1", c.given);
    h.sim.until_prompt();
    h.sim.write_raw("s\ndump_cpu\n");
    if (c.quit)
      h.sim.write_raw("q\n");
    else
      h.sim.close_input();
    EXPECT_EQ(h.sim.wait(), 0);
    EXPECT_EQ(h.sim.rest(), "");
    EXPECT_EQ(read_file(h.transcript), c.quit ? "s\ndump_cpu\nq\n" : "s\ndump_cpu\n");
  }
}

TEST(SilentAfter, TraceLinesAreSilentTooAndSigintStillStopsTheRun) {
  for (Given given : {Given::ByVariable, Given::ByOption}) {
    SCOPED_TRACE(name_of(given));
    Hooked h("VUM_SIM_SILENT_AFTER", "--silent-after", "2", given);
    h.sim.until_prompt();
    EXPECT_EQ(h.sim.send("trace-on"), "Tracing enabled for CPU 0\n<bochs:2> ");
    h.sim.write_raw("c\n");
    h.recorded(2);
    Drained d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_FALSE(d.ended);
    h.sim.interrupt();
    h.recorded(3);
    // Only a stopped run reads the next line.
    h.sim.write_raw("q\n");
    EXPECT_EQ(h.sim.wait(), 0);
    EXPECT_EQ(h.sim.rest(), "");
    EXPECT_EQ(read_file(h.transcript), "trace-on\nc\n#SIGINT\nq\n");
  }
}

// --- silent in the middle of a reply ----------------------------------------

TEST(SilentMidReply, TheFirstLineOfThatReplyAndThenNothingMore) {
  struct Case {
    std::string command;  // the second command line; the first is "pb 7c3d"
    std::string written;  // all that is written of its reply and after it
  } cases[] = {
      {"s", "Next at t=1\n"},
      {"c", "(0) Breakpoint 1, 0x7c3d in ?? ()\n"},
      {"dump_cpu", "eax:0x00000000\n"},
      {"info break", "Num Type           Disp Enb Address\n"},
      {"xp /12bx 0x7c00", "0x00007c00 <bogus+0>:\t0xfa\t0x31\t0xc0\t0x8e\t0xd8\t0x8e\t0xc0\t0x8e\n"},
      {"pb 7c00", ""},  // a reply without lines: not even the prompt
      {"", ""},
      {"nonsense", "Error: unknown command 'nonsense' (try help)\n"},
  };
  for (const Case &c : cases) {
    for (Given given : {Given::ByVariable, Given::ByOption}) {
      SCOPED_TRACE(c.command + ", " + name_of(given));
      Hooked h("VUM_SIM_SILENT_MID_REPLY", "--silent-mid-reply", "2", given);
      h.sim.until_prompt();
      EXPECT_EQ(h.sim.send("pb 7c3d"), "<bochs:2> ");
      // The lines after it are read and carried out, and "q" ends the
      // program with status 0: it fell silent, it did not die.
      h.sim.write_raw(c.command + "\ns\ndump_cpu\nq\n");
      EXPECT_EQ(h.sim.rest(), c.written);
      EXPECT_EQ(h.sim.wait(), 0);
      EXPECT_EQ(read_file(h.transcript), "pb 7c3d\n" + c.command + "\ns\ndump_cpu\nq\n");
    }
  }
}

TEST(SilentMidReply, StaysAliveReadingAfterTheFirstLine) {
  for (Given given : {Given::ByVariable, Given::ByOption}) {
    SCOPED_TRACE(name_of(given));
    Hooked h("VUM_SIM_SILENT_MID_REPLY", "--silent-mid-reply", "2", given);
    h.sim.until_prompt();
    EXPECT_EQ(h.sim.send("s"), std::string(kStep1) + "<bochs:2> ");
    h.sim.write_raw("xp /20bx 0x7c00\n");
    Drained d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "0x00007c00 <bogus+0>:\t0xfa\t0x31\t0xc0\t0x8e\t0xd8\t0x8e\t0xc0\t0x8e\n");
    EXPECT_FALSE(d.ended);
    EXPECT_TRUE(h.sim.alive());
    h.sim.write_raw("s\n");
    EXPECT_EQ(h.recorded(3), (std::vector<std::string>{"s", "xp /20bx 0x7c00", "s"}));
    d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_FALSE(d.ended);
    h.sim.close_input();
    EXPECT_EQ(h.sim.wait(), 0);
  }
}

// --- SIGINT ignored ----------------------------------------------------------

TEST(IgnoreSigint, ARunGoesOnAndTheSignalIsOnlyRecorded) {
  struct Case {
    const char *what;
    std::string image;  // empty: the demo, whose run spins at 7c3b
  } cases[] = {{"spinning", ""}, {"halted", std::string("\x90\xf4", 2)}};
  for (const Case &c : cases) {
    for (Given given : {Given::ByVariable, Given::ByOption}) {
      SCOPED_TRACE(std::string(c.what) + ", " + name_of(given));
      TempDir images;
      std::vector<std::pair<std::string, std::string>> env;
      if (!c.image.empty()) env.push_back({"VUM_SIM_IMAGE", image_file(images, c.image)});
      Hooked h("VUM_SIM_IGNORE_SIGINT", "--ignore-sigint", "", given, env);
      h.sim.until_prompt();
      h.sim.write_raw("c\n");
      h.recorded(1);
      for (int i = 0; i < 2; ++i) {
        h.sim.interrupt();
        h.recorded(2 + size_t(i));
        Drained d = h.sim.drain(kQuietMs);
        EXPECT_EQ(d.bytes, "");
        EXPECT_FALSE(d.ended);
        EXPECT_TRUE(h.sim.alive());
      }
      EXPECT_EQ(read_file(h.transcript), "c\n#SIGINT\n#SIGINT\n");
      if (c.image.empty()) {
        EXPECT_EQ(process_state(h.sim.pid()), 'R');
      }
    }
  }
}

TEST(IgnoreSigint, ASignalSentBeforeTheRunStartsDoesNotStopItEither) {
  // Without the hook this SIGINT would be kept for the waiting "c", which
  // would then stop before its first instruction (see the run tests).
  for (Given given : {Given::ByVariable, Given::ByOption}) {
    SCOPED_TRACE(name_of(given));
    Hooked h("VUM_SIM_IGNORE_SIGINT", "--ignore-sigint", "", given);
    h.sim.until_prompt();
    h.sim.write_raw("xp /400000bx 0\nc\n");
    h.sim.interrupt();
    std::string dump = h.sim.until_prompt();
    EXPECT_EQ(dump.substr(dump.size() - 10), "<bochs:2> ");
    Drained d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_TRUE(h.sim.alive());
  }
}

// --- "q" and the end of input ignored ------------------------------------------

TEST(IgnoreQuit, QuitAndItsSynonymsAreRecordedButNotObeyed) {
  for (Given given : {Given::ByVariable, Given::ByOption}) {
    SCOPED_TRACE(name_of(given));
    Hooked h("VUM_SIM_IGNORE_QUIT", "--ignore-quit", "", given);
    h.sim.until_prompt();
    EXPECT_EQ(h.sim.send("q"), "<bochs:2> ");
    EXPECT_EQ(h.sim.send("quit"), "<bochs:3> ");
    EXPECT_EQ(h.sim.send("exit"), "<bochs:4> ");
    EXPECT_EQ(h.sim.send("s"), std::string(kStep1) + "<bochs:5> ");
    EXPECT_EQ(read_file(h.transcript), "q\nquit\nexit\ns\n");
  }
}

TEST(IgnoreQuit, TheEndOfInputLeavesItAsleepUntilKilled) {
  for (Given given : {Given::ByVariable, Given::ByOption}) {
    SCOPED_TRACE(name_of(given));
    Hooked h("VUM_SIM_IGNORE_QUIT", "--ignore-quit", "", given);
    h.sim.until_prompt();
    h.sim.write_raw("q\n");
    EXPECT_EQ(h.sim.until_prompt(), "<bochs:2> ");
    h.sim.close_input();
    Drained d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_FALSE(d.ended);
    EXPECT_TRUE(h.sim.alive());
    EXPECT_EQ(settled_state(h.sim.pid()), 'S');
    h.sim.send_signal(SIGTERM);
    EXPECT_EQ(h.sim.wait(), 128 + SIGTERM);
  }
}

TEST(IgnoreQuit, ARunOutlivesTheEndOfInputAndSigintStillStopsIt) {
  for (Given given : {Given::ByVariable, Given::ByOption}) {
    SCOPED_TRACE(name_of(given));
    Hooked h("VUM_SIM_IGNORE_QUIT", "--ignore-quit", "", given);
    h.sim.until_prompt();
    EXPECT_EQ(h.sim.send("pb 7c3b"), "<bochs:2> ");
    h.sim.send("c");
    EXPECT_EQ(h.sim.send("d 1"), "<bochs:4> ");
    h.sim.write_raw("c\n");
    h.recorded(4);
    h.sim.close_input();
    Drained d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_FALSE(d.ended);
    EXPECT_TRUE(h.sim.alive());
    EXPECT_EQ(process_state(h.sim.pid()), 'R');
    h.sim.interrupt();
    std::string reply = h.sim.until_prompt();
    EXPECT_EQ(reply.substr(0, 10), "Next at t=");
    EXPECT_EQ(reply.substr(reply.find('\n') + 1), std::string(kSpin) + "<bochs:5> ");
    // Then the end of input: asleep, not gone.
    EXPECT_EQ(settled_state(h.sim.pid()), 'S');
    EXPECT_TRUE(h.sim.alive());
  }
}

TEST(IgnoreQuit, AHaltedRunSleepsOnAfterTheEndOfInput) {
  for (Given given : {Given::ByVariable, Given::ByOption}) {
    SCOPED_TRACE(name_of(given));
    TempDir images;
    Hooked h("VUM_SIM_IGNORE_QUIT", "--ignore-quit", "", given,
             {{"VUM_SIM_IMAGE", image_file(images, std::string("\x90\xf4\x90", 3))}});
    h.sim.until_prompt();
    h.sim.write_raw("c\n");
    h.recorded(1);
    h.sim.close_input();
    EXPECT_EQ(settled_state(h.sim.pid()), 'S');
    // Asleep, not polling a hung-up input over and over.
    long before = cpu_ticks(h.sim.pid());
    Drained d = h.sim.drain(kQuietMs);
    EXPECT_LE(cpu_ticks(h.sim.pid()) - before, 2);
    EXPECT_EQ(d.bytes, "");
    EXPECT_TRUE(h.sim.alive());
    h.sim.interrupt();
    EXPECT_EQ(h.sim.until_prompt(),
              "Next at t=3\n(0) [0x00007c02] 0000:7c02 (unk. ctxt): nop                      ; 90\n<bochs:2> ");
    EXPECT_TRUE(h.sim.alive());
  }
}

// --- SIGTERM ignored -----------------------------------------------------------

TEST(IgnoreSigterm, SurvivesSigtermAndAnswersOnButDiesOnSigkill) {
  for (Given given : {Given::ByVariable, Given::ByOption, Given::Not}) {
    SCOPED_TRACE(name_of(given));
    Hooked h("VUM_SIM_IGNORE_SIGTERM", "--ignore-sigterm", "", given);
    h.sim.until_prompt();
    EXPECT_EQ(h.sim.send("s"), std::string(kStep1) + "<bochs:2> ");
    h.sim.send_signal(SIGTERM);
    if (given == Given::Not) {
      EXPECT_EQ(h.sim.wait(), 128 + SIGTERM);
      continue;
    }
    Drained d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_TRUE(h.sim.alive());
    EXPECT_EQ(h.sim.send("s"),
              "Next at t=2\n(0) [0x00007c01] 0000:7c01 (unk. ctxt): xor ax, ax               ; 31c0\n<bochs:3> ");
    // Also in the middle of a run.
    h.sim.write_raw("c\n");
    h.recorded(3);
    h.sim.send_signal(SIGTERM);
    d = h.sim.drain(kQuietMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_TRUE(h.sim.alive());
    h.sim.send_signal(SIGKILL);
    EXPECT_EQ(h.sim.wait(), 128 + SIGKILL);
  }
}

// --- the reply stream closed -----------------------------------------------------

TEST(CloseRepliesAfter, TheReaderSeesTheEndWhileTheProgramReadsOn) {
  struct Case {
    Given given;
    std::vector<int> duplicates;  // other descriptors of the reply pipe
    bool quit;                    // else the input is closed
  } cases[] = {
      {Given::ByVariable, {}, true},
      {Given::ByOption, {}, false},
      {Given::ByVariable, {1, 9}, false},  // standard output joined to it too
      {Given::ByOption, {7}, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(name_of(c.given)) + ", " + std::to_string(c.duplicates.size()) + " duplicates");
    Hooked h("VUM_SIM_CLOSE_REPLIES_AFTER", "--close-replies-after", "2", c.given, {}, c.duplicates);
    h.sim.until_prompt();
    EXPECT_EQ(h.sim.send("s"), std::string(kStep1) + "<bochs:2> ");
    h.sim.write_raw("dump_cpu\n");
    Drained d = h.sim.drain(kEndMs);
    EXPECT_EQ(d.bytes, "");
    EXPECT_TRUE(d.ended);
    EXPECT_TRUE(h.sim.alive());
    // Still reading, recording and carrying out commands.
    h.sim.write_raw("s\nxp /64bx 0\n");
    EXPECT_EQ(h.recorded(4), (std::vector<std::string>{"s", "dump_cpu", "s", "xp /64bx 0"}));
    EXPECT_TRUE(h.sim.alive());
    if (c.quit)
      h.sim.write_raw("q\n");
    else
      h.sim.close_input();
    EXPECT_EQ(h.sim.wait(), 0);
  }
}

// --- values ----------------------------------------------------------------------

TEST(FaultHookValues, CountsThatDoNotParseAreNotedAndSwitchesSetToZeroAreOff) {
  Sim sim(SimConfig{{{"VUM_SIM_SILENT_AFTER", "x"},
                     {"VUM_SIM_SILENT_MID_REPLY", "-1"},
                     {"VUM_SIM_CLOSE_REPLIES_AFTER", ""},
                     {"VUM_SIM_IGNORE_QUIT", "0"},
                     {"VUM_SIM_IGNORE_SIGINT", "0"},
                     {"VUM_SIM_IGNORE_SIGTERM", ""}},
                    {"-q", "--silent-after", "2y"}});
  std::string start = sim.until_prompt();
  for (const char *note : {"Ignored VUM_SIM_SILENT_AFTER: not a count\n",
                           "Ignored VUM_SIM_SILENT_MID_REPLY: not a count\n",
                           "Ignored VUM_SIM_CLOSE_REPLIES_AFTER: not a count\n",
                           "Ignored --silent-after: not a count\n"})
    EXPECT_NE(start.find(note), std::string::npos) << note;
  EXPECT_EQ(sim.send("s"), std::string(kStep1) + "<bochs:2> ");
  EXPECT_EQ(sim.send("s").substr(0, 12), "Next at t=2\n");
  sim.write_raw("q\n");
  EXPECT_EQ(sim.wait(), 0);
}

}  // namespace
