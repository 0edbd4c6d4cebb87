// The bridge against the real Bochs 2.7 on the demo floppy (demo/README.md
// lists its addresses), started as VUM starts its debugger and sent the old
// dialect's commands of every VUM feature; each reply must read correctly
// under the old grammars (old_grammar.hpp).
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "emulator_fixture.hpp"

using namespace old_grammar;

namespace {

// Addresses in the demo floppy.
const uint32_t demo_call_print = 0x7C0F;  // call print (3 bytes)
const uint32_t demo_call_bump = 0x7C20;   // call bump (3 bytes), three times
const uint32_t demo_bump = 0x7C50;
const uint32_t demo_farsub = 0x7C58;
const uint32_t demo_pm_loop = 0x7CA0;
const uint32_t demo_pm_call = 0x7CA1;     // call pm_sub (5 bytes)
const uint32_t demo_pm_sub = 0x7CC0;
const uint32_t demo_record = 0x7CD0;

}  // namespace

TEST_F(EmulatorTest, StartsAtTheResetVectorAndSteps) {
  start();
  EXPECT_EQ(startup.find('<'), std::string::npos);
  for (const char *noise : {"LTDL", "ALSA", "i[", "PLUGIN"})
    EXPECT_EQ(startup.find(noise), std::string::npos) << "the emulator's standard error got in: " << noise;
  Location at = step();
  EXPECT_EQ(at.physical, 0xFE05Bu);
  EXPECT_EQ(at.cs, 0xF000u);
  EXPECT_EQ(at.eip, 0xE05Bu);
  EXPECT_EQ(at.text, "xor ax, ax");
  EXPECT_EQ(at.length, 2u);
}

TEST_F(EmulatorTest, NextOverACallAndTheStateInRealMode) {
  start();
  run_to(demo_call_print);
  Location at = step();  // into print: the return address is on the stack
  EXPECT_EQ(at.physical, 0x7C60u);
  uint32_t v[63];
  registers(v);
  EXPECT_EQ(v[kCr0] & 1, 0u);
  EXPECT_EQ(v[kEsp], 0x7BFEu);
  EXPECT_EQ(v[kEip], 0x7C60u);
  EXPECT_NE(v[kSs + 3], 0u) << "SS valid";
  uint32_t top = 0;
  std::string reply = x("x /1hx " + hex(v[kSs] * 16 + v[kEsp]));
  ASSERT_TRUE(scan_stack_element(reply, &top)) << reply;
  EXPECT_EQ(top, 0x7C12u);

  // Next, as VUM does it: a breakpoint after the call, and Go.
  run_to(demo_call_bump);
  std::vector<std::string> stop;
  reply = x("info break");
  ASSERT_TRUE(scan_breakpoint_list(reply).empty()) << reply;
  x("s");
  x("pb " + hex(demo_call_bump));
  stop = go();  // the loop comes back to the call
  ASSERT_EQ(stop.size(), 3u);
  ASSERT_TRUE(scan_location(stop[1] + "\n" + stop[2], &at));
  ASSERT_TRUE(offers_next(at.text)) << at.text;
  uint32_t after = at.physical + at.length;
  EXPECT_EQ(after, 0x7C23u);
  x("pb " + hex(after));
  stop = go();
  ASSERT_EQ(stop.size(), 3u);
  unsigned number = 0;
  ASSERT_TRUE(scan_breakpoint_stop(stop[0], &number)) << stop[0];
  EXPECT_EQ(number, 4u);
  ASSERT_TRUE(scan_location(stop[1] + "\n" + stop[2], &at));
  EXPECT_EQ(at.physical, after);
}

TEST_F(EmulatorTest, TheStateAndTheStackInProtectedMode) {
  start();
  run_to(demo_pm_sub);
  uint32_t v[63];
  registers(v);
  EXPECT_EQ(v[kCr0] & 1, 1u);
  EXPECT_EQ(v[kCs], 8u);
  EXPECT_EQ(v[kSs], 0x10u);
  EXPECT_NE(v[kCs + 2] & (1u << 22), 0u) << "CS D flag";
  EXPECT_NE(v[kSs + 2] & (1u << 22), 0u) << "SS B flag";
  EXPECT_EQ(v[kEsp], 0x8FFFCu);
  EXPECT_EQ(v[kEip], demo_pm_sub);
  // A 32-bit stack: flat base 0; the return address of the call.
  uint32_t top = 0, above = 0;
  std::string reply = x("x /1wx " + hex(v[kEsp]));
  ASSERT_TRUE(scan_stack_element(reply, &top)) << reply;
  EXPECT_EQ(top, 0x7CA6u);
  reply = x("x /1wx " + hex(v[kEsp] + 4));
  EXPECT_TRUE(scan_stack_element(reply, &above)) << reply;
  Location at = step();
  EXPECT_EQ(at.cs, 8u);
  EXPECT_EQ(at.eip, 0x7CC1u);
  EXPECT_EQ(at.text, "ret");
}

TEST_F(EmulatorTest, GoStopsAtABreakpointOfEachKindInBothModes) {
  start();
  x("pb " + hex(demo_bump));
  x("lb " + hex(demo_pm_call));
  x("vb 0:" + hex(demo_farsub));
  x("vb 8:" + hex(demo_pm_sub));
  std::vector<Breakpoint> list = scan_breakpoint_list(x("info break"));
  ASSERT_EQ(list.size(), 4u);
  const unsigned kinds[] = {0, 1, 2, 2}, segments[] = {0, 0, 0, 8};
  const uint32_t offsets[] = {demo_bump, demo_pm_call, demo_farsub, demo_pm_sub};
  for (unsigned i = 0; i < 4; i++) {
    EXPECT_EQ(list[i].number, i + 1);
    EXPECT_EQ(list[i].kind, kinds[i]);
    EXPECT_EQ(list[i].enabled, 1u);
    EXPECT_EQ(list[i].segment, segments[i]);
    EXPECT_EQ(list[i].offset, offsets[i]);
  }
  const struct {
    unsigned number;
    uint32_t at;
  } stops[] = {{1, demo_bump}, {3, demo_farsub}, {2, demo_pm_call}, {4, demo_pm_sub}};
  for (const auto &s : stops) {
    std::vector<std::string> stop = go();
    ASSERT_EQ(stop.size(), 3u);
    unsigned number = 0;
    ASSERT_TRUE(scan_breakpoint_stop(stop[0], &number)) << stop[0];
    EXPECT_EQ(number, s.number);
    Location at;
    ASSERT_TRUE(scan_location(stop[1] + "\n" + stop[2], &at));
    EXPECT_EQ(at.physical, s.at);
    if (s.number == 1) x("d 1");  // bump runs three times
  }
}

TEST_F(EmulatorTest, GoAndStop) {
  start();
  run_to(demo_pm_loop);
  bridge->send("c");
  std::string reply;
  EXPECT_FALSE(bridge->read_reply(&reply, 500)) << "the run goes on: " << reply;
  bridge->interrupt();
  ASSERT_TRUE(bridge->read_reply(&reply, 10000)) << "Stop gave no prompt";
  Location at;
  ASSERT_TRUE(scan_location(reply, &at)) << reply;
  EXPECT_GE(at.physical, demo_pm_loop);
  EXPECT_LE(at.physical, 0x7CC1u);
  step();  // the dialogue is still in step
}

TEST_F(EmulatorTest, ReadAndWriteWatchpointsStopAndAreListed) {
  start();
  run_to(demo_pm_loop);
  x("watch write 0x500");
  x("watch read 0x600");
  std::vector<Watchpoint> list = scan_watch_list(x("watch"));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].kind, 0u);
  EXPECT_EQ(list[0].address, 0x600u);
  EXPECT_EQ(list[0].width, 2u);
  EXPECT_EQ(list[1].kind, 1u);
  EXPECT_EQ(list[1].address, 0x500u);

  const struct {
    const char *kind;
    uint32_t address, next;
  } stops[] = {{"write", 0x500, 0x7CAB}, {"read", 0x600, 0x7CB1}};
  for (const auto &s : stops) {
    std::vector<std::string> stop = go();
    ASSERT_EQ(stop.size(), 3u);
    std::string kind;
    uint32_t address = 0;
    ASSERT_TRUE(scan_watch_stop(stop[0], &kind, &address)) << stop[0];
    EXPECT_EQ(kind, s.kind);
    EXPECT_EQ(address, s.address);
    Location at;
    ASSERT_TRUE(scan_location(stop[1] + "\n" + stop[2], &at));
    EXPECT_EQ(at.physical, s.next);
  }
  x("unwatch write 0x500");
  list = scan_watch_list(x("watch"));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].kind, 0u);
  x("unwatch read 0x600");
  EXPECT_TRUE(scan_watch_list(x("watch")).empty());
  x("watch read 0x600");
  x("unwatch");
  EXPECT_TRUE(scan_watch_list(x("watch")).empty());
}

TEST_F(EmulatorTest, RemovingOneWatchpointKeepsTheOtherKindAtTheAddress) {
  start();
  x("watch read 0x600");
  x("watch write 0x600");
  x("watch write 0x500");
  x("unwatch read 0x600");
  std::vector<Watchpoint> list = scan_watch_list(x("watch"));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].kind, 1u);
  EXPECT_EQ(list[0].address, 0x600u);
  EXPECT_EQ(list[1].kind, 1u);
  EXPECT_EQ(list[1].address, 0x500u);
}

TEST_F(EmulatorTest, AWiderWriteIsReportedOnTheWatchedByte) {
  // Bochs reports the 4-byte write at 0x500; the list holds 0x502.
  start();
  run_to(demo_pm_loop);
  x("watch write 0x502");
  std::vector<std::string> stop = go();
  ASSERT_EQ(stop.size(), 3u);
  std::string kind;
  uint32_t address = 0;
  ASSERT_TRUE(scan_watch_stop(stop[0], &kind, &address)) << stop[0];
  std::vector<Watchpoint> list = scan_watch_list(x("watch"));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(kind, "write");
  EXPECT_EQ(address, list[0].address);
}

TEST_F(EmulatorTest, AReadWatchpointDoesNotSeeAReadModifyWrite) {
  // inc dword [0x604] reads and writes 0x604; Bochs 2.7 reports the write
  // only. The run goes on until Stop.
  start();
  run_to(demo_pm_loop);
  x("watch read 0x604");
  bridge->send("c");
  std::string reply;
  EXPECT_FALSE(bridge->read_reply(&reply, 1000)) << reply;
  bridge->interrupt();
  ASSERT_TRUE(bridge->read_reply(&reply, 10000));
  EXPECT_EQ(reply.find("Caught"), std::string::npos) << reply;
  x("watch write 0x604");
  std::vector<std::string> stop = go();
  ASSERT_EQ(stop.size(), 3u);
  std::string kind;
  uint32_t address = 0;
  ASSERT_TRUE(scan_watch_stop(stop[0], &kind, &address)) << stop[0];
  EXPECT_EQ(kind, "write");
  EXPECT_EQ(address, 0x604u);
}

TEST_F(EmulatorTest, TracingOnAndOff) {
  start();
  run_to(demo_pm_loop);
  x("trace-on");
  x("pb 0x7CB1");
  std::vector<std::string> run = go();
  ASSERT_GE(run.size(), 6u);
  // Trace lines, each read as an instruction, then the stop report.
  for (size_t i = 0; i + 3 < run.size(); i++) {
    Location at;
    EXPECT_TRUE(scan_instruction_line(run[i], &at)) << run[i];
  }
  unsigned number = 0;
  EXPECT_TRUE(scan_breakpoint_stop(run[run.size() - 3], &number)) << run[run.size() - 3];
  Location at;
  EXPECT_TRUE(scan_instruction_line(run[0], &at));
  EXPECT_EQ(at.physical, demo_pm_loop);
  EXPECT_EQ(lines(x("s")).size(), 2u) << "a step while tracing reads as two lines";
  x("trace-off");
  x("d " + std::to_string(number));
  x("pb " + hex(demo_pm_sub));
  EXPECT_EQ(go().size(), 3u) << "no trace lines";
}

TEST_F(EmulatorTest, MemoryDumpsInEveryUnitSizeAndFormat) {
  start();
  run_to(demo_pm_loop);
  const struct {
    char unit;
    unsigned size, per_line;
  } units[] = {{'b', 1, 8}, {'h', 2, 8}, {'w', 4, 4}, {'g', 8, 2}};
  for (const char *space : {"x", "xp"})
    for (const auto &u : units)
      for (char format : {'x', 'd', 'u', 't', 'o'}) {
        unsigned count = 2 * u.per_line + 1;  // three lines
        std::string cmd = std::string(space) + " /" + std::to_string(count) + u.unit + format + " 0x7C00";
        std::vector<DumpRow> rows = read_dump(x(cmd));
        ASSERT_EQ(rows.size(), 3u) << cmd;
        for (unsigned r = 0; r < 3; r++) {
          char base[16];
          snprintf(base, sizeof base, "%.8X", 0x7C00 + r * u.per_line * u.size);
          EXPECT_EQ(rows[r].base, base) << cmd;
          EXPECT_EQ(rows[r].offset, "+" + std::to_string(r * u.per_line * u.size)) << cmd;
          std::vector<std::string> values;
          std::string v;
          for (char c : rows[r].values + " ")
            if (c == ' ') {
              if (!v.empty()) values.push_back(v);
              v.clear();
            } else {
              v += c;
            }
          EXPECT_EQ(values.size(), r < 2 ? u.per_line : 1) << cmd << ": " << rows[r].values;
          for (const std::string &value : values) {
            // Binary digits, or "0x" and hex digits, for the whole unit.
            if (format == 't' || format == 'x') {
              EXPECT_EQ(value.size(), format == 't' ? u.size * 8 : 2 + u.size * 2) << cmd;
            }
          }
        }
      }
  EXPECT_TRUE(read_dump(x("xp /0bx 0x7C00")).empty());
}

TEST_F(EmulatorTest, StructureFieldsOfEachSize) {
  start();
  run_to(demo_pm_loop);
  const struct {
    const char *cmd;
    uint32_t address;
    int count;
    uint32_t first, second;
  } fields[] = {
      {"x /1hx", demo_record, 1, 0x1234, 0},
      {"x /1wx", demo_record + 2, 1, 0x89ABCDEF, 0},
      {"x /1bx", demo_record + 6, 1, 0x42, 0},
      {"x /2wx", demo_record + 7, 2, 0x55667788, 0x11223344},
  };
  for (const auto &f : fields) {
    uint32_t first = 0, second = 0;
    std::string reply = x(std::string(f.cmd) + " " + hex(f.address));
    EXPECT_EQ(scan_struct_field(reply, &first, &second), f.count) << reply;
    EXPECT_EQ(first, f.first) << f.cmd;
    if (f.count == 2) {
      EXPECT_EQ(second, f.second) << f.cmd;
    }
  }
}

TEST_F(EmulatorTest, KillAndStartAgainWithThePointsReloaded) {
  start();
  x("pb 0x7c50");
  x("vb 8:7cc0");
  x("watch write 0x500");
  std::vector<Breakpoint> before = scan_breakpoint_list(x("info break"));
  std::vector<Watchpoint> watched = scan_watch_list(x("watch"));
  pid_t emulator = bridge->emulator_pid();
  ASSERT_GT(emulator, 0);
  bridge->send("q");
  EXPECT_TRUE(bridge->reply_stream_ends());
  EXPECT_TRUE(bridge->close_and_wait());
  EXPECT_EQ(bridge->exit_status(), 0);
  EXPECT_TRUE(process_ends(emulator, 5000));

  start();
  // The reload's own address forms.
  char line[64];
  for (const Breakpoint &b : before) {
    if (b.kind == 2)
      snprintf(line, sizeof line, "vb 0x%.4X:0x%.8X", b.segment, b.offset);
    else
      snprintf(line, sizeof line, "%s 0x%.8X", b.kind == 0 ? "pb" : "lb", b.offset);
    x(line);
  }
  for (const Watchpoint &w : watched) {
    snprintf(line, sizeof line, "watch %s 0x%.8X", w.kind ? "write" : "read", w.address);
    x(line);
  }
  std::vector<Breakpoint> after = scan_breakpoint_list(x("info break"));
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].offset, 0x7C50u);
  EXPECT_EQ(after[1].segment, 8u);
  EXPECT_EQ(after[1].offset, 0x7CC0u);
  ASSERT_EQ(scan_watch_list(x("watch")).size(), 1u);
  std::vector<std::string> stop = go();
  ASSERT_EQ(stop.size(), 3u);
  unsigned number = 0;
  EXPECT_TRUE(scan_breakpoint_stop(stop[0], &number)) << stop[0];
}

TEST_F(EmulatorTest, ReadlineNeitherRepeatsNorCompletesNorWraps) {
  start();
  Location first = step();
  std::string empty = x("");
  EXPECT_EQ(empty, " ") << "an empty line ran something";
  std::string next = x("s");
  unsigned long t = 0;
  ASSERT_EQ(sscanf(next.c_str(), " Next at t=%lu", &t), 1) << next;
  EXPECT_EQ(t, 2u) << "one step after the first, not two";
  x("pb\t0x7c00");
  ASSERT_EQ(scan_breakpoint_list(x("info break")).size(), 1u);
  // Commands of every length around the 80-column wrap read as usual.
  for (int zeros = 50; zeros <= 90; zeros++) {
    std::string cmd = "x /1hx 0x" + std::string(size_t(zeros), '0') + "7c00";
    uint32_t v = 0;
    std::string reply = x(cmd);
    EXPECT_TRUE(scan_stack_element(reply, &v)) << cmd << ": " << reply;
  }
}

TEST_F(EmulatorTest, TheSeventeenthBreakpointOfAKindIsRefused) {
  std::string log = dir + "/bridge.log";
  start({"VUM_BRIDGE_LOG=" + log});
  for (int i = 0; i < 17; i++) x("pb " + hex(0x8000 + uint32_t(i)));
  EXPECT_EQ(scan_breakpoint_list(x("info break")).size(), 16u);
  for (int i = 0; i < 17; i++) x("watch read " + hex(0x8000 + uint32_t(i)));
  EXPECT_EQ(scan_watch_list(x("watch")).size(), 16u);
  step();
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Bochs refused: Error: no more physical breakpoint slots left."), std::string::npos) << text;
  EXPECT_NE(text.find("Bochs refused: Too many read watchpoints (16)"), std::string::npos);
}

TEST_F(EmulatorTest, QuitLeavesNoProcessBehind) {
  start();
  pid_t emulator = bridge->emulator_pid();
  ASSERT_GT(emulator, 0);
  bridge->send("q");
  EXPECT_TRUE(bridge->reply_stream_ends(5000));
  EXPECT_TRUE(bridge->close_and_wait(5000));
  EXPECT_TRUE(process_ends(emulator, 5000));
}

// The bridge waits as a batch process, so that its wake-ups do not take the
// processor from Bochs at each of its writes; Bochs, the guest's machine,
// must not inherit that.
TEST_F(EmulatorTest, OnlyTheBridgeRunsAsABatchProcess) {
  start();
  pid_t emulator = bridge->emulator_pid();
  ASSERT_GT(emulator, 0);
  EXPECT_EQ(sched_getscheduler(bridge->pid()), SCHED_BATCH);
  EXPECT_EQ(sched_getscheduler(emulator), SCHED_OTHER);
}

TEST_F(EmulatorTest, TheEmulatorEndsWhenVumGoesDuringARun) {
  start();
  pid_t emulator = bridge->emulator_pid();
  ASSERT_GT(emulator, 0);
  bridge->send("c");
  usleep(300000);
  EXPECT_TRUE(bridge->close_and_wait(8000));
  EXPECT_TRUE(process_ends(emulator, 5000));
}

TEST_F(EmulatorTest, SignalsThatEndTheBridgeEndTheEmulator) {
  for (int sig : {SIGTERM, SIGHUP, SIGKILL}) {
    start();
    pid_t emulator = bridge->emulator_pid();
    ASSERT_GT(emulator, 0);
    kill(bridge->pid(), sig);
    EXPECT_TRUE(bridge->reply_stream_ends(8000)) << sig;
    EXPECT_TRUE(process_ends(emulator, 5000)) << "signal " << sig;
    bridge.reset();
  }
}

TEST_F(EmulatorTest, TheBridgeEndsWithTheEmulator) {
  start();
  pid_t emulator = bridge->emulator_pid();
  ASSERT_GT(emulator, 0);
  kill(emulator, SIGKILL);
  EXPECT_TRUE(bridge->reply_stream_ends(5000));
  EXPECT_TRUE(bridge->close_and_wait(5000));
  EXPECT_NE(bridge->exit_status(), 0);
}

TEST_F(EmulatorTest, AConfigurationFileOfTheUsersOwn) {
  // 32 MB instead of the demo's 16: physical memory at 24 MB reads as 0
  // rather than as all ones.
  std::ifstream demo(std::string(VUM_BUILD_DIR) + "/demo/bochsrc");
  std::string text((std::istreambuf_iterator<char>(demo)), std::istreambuf_iterator<char>());
  size_t megs = text.find("megs: 16");
  ASSERT_NE(megs, std::string::npos);
  text.replace(megs, 8, "megs: 32");
  size_t image = text.find("$VUM_DEMO_DIR");
  ASSERT_NE(image, std::string::npos);
  text.replace(image, 13, std::string(VUM_BUILD_DIR) + "/demo");
  auto high_memory = [this] {
    uint32_t v = 1;
    scan_stack_element(x("xp /1wx 0x1800000"), &v);
    return v;
  };

  start();
  EXPECT_EQ(high_memory(), 0xFFFFFFFFu) << "the demo has 16 MB";
  bridge.reset();

  std::string elsewhere = dir + "/mine.rc";
  std::ofstream(elsewhere) << text;
  start({"VUM_BOCHSRC=" + elsewhere});
  EXPECT_EQ(high_memory(), 0u) << "VUM_BOCHSRC";
  bridge.reset();

  std::ofstream(dir + "/bochsrc") << text;
  start();
  EXPECT_EQ(high_memory(), 0u) << "bochsrc in the current directory";
}

TEST_F(EmulatorTest, AConfigurationThatCannotBeReadEndsTheStart) {
  bridge = std::make_unique<BridgeProcess>(dir, std::vector<std::string>{"VUM_BOCHSRC=/nonexistent/bochsrc"});
  std::string text;
  EXPECT_FALSE(bridge->read_reply(&text, 10000));
  EXPECT_NE(text.find("cannot read the configuration file"), std::string::npos) << text;
  EXPECT_EQ(text.find('<'), std::string::npos);
  EXPECT_TRUE(bridge->close_and_wait(5000));
  EXPECT_EQ(bridge->exit_status(), 1);
}
